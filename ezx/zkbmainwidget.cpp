#include "ezx/zkbmainwidget.h"

#include "ezx/zglobal.h"
#include "ezx/zoptionsmenu.h"
#include "ezx/zsoftkey.h"

#include <QAccessibleWidget>
#include <QKeyEvent>

#include <QLabel>

namespace {

// A screen reader tells an application's window by its role (a plain widget's is "filler"),
// and finds the options menu among its children: QAccessibleWidget leaves menus out, as they
// are popups elsewhere, while this one is shown inside the window.
class MainWindowAccessible : public QAccessibleWidget
{
public:
    explicit MainWindowAccessible(QWidget *window)
        : QAccessibleWidget(window, QAccessible::Window)
    {
    }

    int childCount() const override { return QAccessibleWidget::childCount() + (menu() != nullptr ? 1 : 0); }

    QAccessibleInterface *child(int index) const override
    {
        QWidget *shown = menu();
        return shown != nullptr && index == QAccessibleWidget::childCount()
            ? QAccessible::queryAccessibleInterface(shown)
            : QAccessibleWidget::child(index);
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const QObject *shown = menu();
        return shown != nullptr && child->object() == shown ? QAccessibleWidget::childCount()
                                                            : QAccessibleWidget::indexOfChild(child);
    }

private:
    QWidget *menu() const
    {
        const auto *softKey = widget()->findChild<ZSoftKey *>();
        QWidget *shown = softKey != nullptr ? softKey->optMenu(0) : nullptr;
        return shown != nullptr && shown->isVisible() ? shown : nullptr;
    }
};

QAccessibleInterface *mainWindowAccessible(const QString & /*className*/, QObject *object)
{
    auto *widget = qobject_cast<ZKbMainWidget *>(object);
    return widget != nullptr ? new MainWindowAccessible(widget) : nullptr;
}

} // namespace

ZKbMainWidget::ZKbMainWidget(int /*headerType*/, QWidget *parent, const char *name, unsigned int /*flags*/)
    : QWidget(parent)
    , m_title(new QLabel(this))
{
    static const bool installed = (QAccessible::installFactory(mainWindowAccessible), true);
    Q_UNUSED(installed)
    if (name != nullptr)
        setObjectName(QString::fromLatin1(name));
    setMinimumSize(240, 320);
    resize(ZGlobal::getScreenR().size());
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setGeometry(ZGlobal::getHeaderR());
    m_title->setAlignment(Qt::AlignCenter);
    ZGlobal::setBarLook(m_title);
}

void ZKbMainWidget::setMainWidgetTitle(const QString &title)
{
    m_title->setText(title);
    setWindowTitle(title);
}

void ZKbMainWidget::setContentWidget(QWidget *content)
{
    m_content = content;
    content->setParent(this);
    content->setGeometry(ZGlobal::getContentR(true));
    content->show();
}

void ZKbMainWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    ZGlobal::setScreenSize(size());
    m_title->setGeometry(ZGlobal::getHeaderR());
    if (m_content)
        m_content->setGeometry(ZGlobal::getContentR(true));
}

void ZKbMainWidget::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key() == Qt::Key_F1 ? 0 : event->key() == Qt::Key_F2 ? 1 : -1;
    ZSoftKey *softKey = key < 0 ? nullptr : findChild<ZSoftKey *>();
    if (softKey == nullptr) {
        QWidget::keyPressEvent(event);
        return;
    }
    softKey->pressKey(key);
}
