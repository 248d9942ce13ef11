#include "ezx/zkbmainwidget.h"

#include "ezx/zglobal.h"
#include "ezx/zsoftkey.h"

#include <QAccessibleWidget>
#include <QKeyEvent>

#include <QLabel>

namespace {

// A screen reader tells an application's window by its role; a plain widget's is "filler".
QAccessibleInterface *mainWindowAccessible(const QString & /*className*/, QObject *object)
{
    auto *widget = qobject_cast<ZKbMainWidget *>(object);
    return widget != nullptr ? new QAccessibleWidget(widget, QAccessible::Window) : nullptr;
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
