#include "ezx/zpopup.h"

#include "ezx/zglobal.h"
#include "ezx/zkbmainwidget.h"

#include <QApplication>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
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

void ZPopup::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (qobject_cast<ZKbMainWidget *>(top) != nullptr && top->isVisible()) {
            move(top->geometry().center() - rect().center());
            break;
        }
    }
}
