#include "ezx/zpopup.h"

#include "ezx/zglobal.h"
#include "ezx/zkbmainwidget.h"

#include <QApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString g_keyTexts[2];
} // namespace

void ZPopup::setKeyTexts(const QString &accept, const QString &cancel)
{
    g_keyTexts[0] = accept;
    g_keyTexts[1] = cancel;
}

ZPopup::ZPopup(QWidget *parent, const char *name, bool modal, unsigned int /*flags*/)
    : QDialog(parent)
    , m_title(new QLabel(this))
    , m_content(new QVBoxLayout)
{
    if (name != nullptr)
        setObjectName(QString::fromLatin1(name));
    setModal(modal);
    setFixedWidth(ZGlobal::getScreenR().width() - 20);
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setWordWrap(true);
    m_title->setMargin(4);
    ZGlobal::setBarLook(m_title);

    auto *bar = new QHBoxLayout;
    const char *labels[2] = {QT_TR_NOOP("OK"), QT_TR_NOOP("Cancel")};
    for (int key = 0; key < 2; ++key) {
        m_buttons[key] = new QPushButton(g_keyTexts[key].isEmpty() ? tr(labels[key]) : g_keyTexts[key], this);
        m_buttons[key]->setObjectName(QStringLiteral("key%1").arg(key));
        m_buttons[key]->setFocusPolicy(Qt::NoFocus);
        m_buttons[key]->setAutoDefault(false);
        m_buttons[key]->setMinimumSize(2 * ZGlobal::kTouchSize, ZGlobal::kTouchSize);
    }
    m_buttons[0]->setDefault(true);
    connect(m_buttons[0], &QPushButton::clicked, this, &QDialog::accept);
    connect(m_buttons[1], &QPushButton::clicked, this, &QDialog::reject);
    bar->addWidget(m_buttons[0]);
    bar->addStretch();
    bar->addWidget(m_buttons[1]);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->addWidget(m_title);
    m_content->setContentsMargins(8, 4, 8, 4);
    layout->addLayout(m_content, 1);
    layout->addLayout(bar);
}

void ZPopup::setTitle(const QString &title)
{
    m_title->setText(title);
    setWindowTitle(title);
}

QString ZPopup::title() const
{
    return m_title->text();
}

void ZPopup::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_F1:
    case Qt::Key_Return:
    case Qt::Key_Enter: accept(); break;
    case Qt::Key_F2: reject(); break;
    default: QDialog::keyPressEvent(event);
    }
}

namespace {

QWidget *shownMainWidget()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (qobject_cast<ZKbMainWidget *>(top) != nullptr && top->isVisible())
            return top;
    }
    return nullptr;
}

} // namespace

void ZPopup::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    const QWidget *main = isWindow() ? shownMainWidget() : nullptr;
    if (main != nullptr)
        move(main->geometry().center() - rect().center());
}

int ZPopup::exec()
{
    QWidget *main = shownMainWidget();
    if (main == nullptr)
        return QDialog::exec();
    // Taken before the window is put out of reach, which moves its focus away: the keys act
    // where they acted before once the dialog closes.
    const QPointer<QWidget> focused = QApplication::focusWidget();
    QList<QPointer<QWidget>> outOfReach;
    for (QWidget *child : main->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->isEnabled()) {
            child->setEnabled(false);
            outOfReach.append(child);
        }
    }
    QWidget *first = focusWidget() != nullptr ? focusWidget() : this; // the reparenting forgets it
    m_shade = new QWidget(main);
    m_shade->setObjectName(QStringLiteral("shade"));
    m_shade->setAttribute(Qt::WA_StyledBackground);
    m_shade->setStyleSheet(QStringLiteral("background: rgba(0, 0, 0, 96)"));
    m_shade->show();
    setParent(main, Qt::Widget);
    setAutoFillBackground(true); // as a window it had the window system's
    main->installEventFilter(this);
    place();
    show();
    first->setFocus(Qt::PopupFocusReason);

    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    const QPointer<ZPopup> self(this);
    loop.exec(QEventLoop::DialogExec);
    if (!self)
        return Rejected; // the window went, and the dialog with it

    main->removeEventFilter(this);
    delete m_shade;
    m_shade = nullptr;
    for (const QPointer<QWidget> &child : outOfReach) {
        if (child)
            child->setEnabled(true);
    }
    if (focused)
        focused->setFocus(Qt::PopupFocusReason);
    return result();
}

bool ZPopup::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize && watched == parentWidget())
        place();
    return QDialog::eventFilter(watched, event);
}

void ZPopup::place()
{
    constexpr int kMargin = 10;
    const QRect room = parentWidget()->rect();
    m_shade->setGeometry(room);
    setFixedWidth(room.width() - 2 * kMargin);
    const int height = qMin(sizeHint().height(), room.height() - 2 * kMargin);
    setGeometry(kMargin, room.height() - kMargin - height, width(), height);
    m_shade->raise();
    raise();
}
