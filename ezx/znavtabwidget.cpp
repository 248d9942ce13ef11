#include "ezx/znavtabwidget.h"

#include "ezx/zglobal.h"

#include <QKeyEvent>
#include <QTabBar>

namespace {

// Tabs a finger can press.
class TouchTabBar : public QTabBar
{
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override
    {
        return QTabBar::tabSizeHint(index).expandedTo(QSize(ZGlobal::kTouchSize, ZGlobal::kTouchSize));
    }
};

} // namespace

ZNavTabWidget::ZNavTabWidget(QWidget *parent, const char *name, int /*widgetClass*/)
    : QTabWidget(parent)
{
    setTabBar(new TouchTabBar(this));
    if (name != nullptr)
        setObjectName(QString::fromLatin1(name));
    setIconSize(QSize(24, 24));
    setDocumentMode(true);
    setUsesScrollButtons(false);
    tabBar()->setExpanding(true);
    tabBar()->setFocusPolicy(Qt::NoFocus);
    connect(this, &QTabWidget::currentChanged, this, [this](int index) {
        QWidget *page = widget(index);
        if (page != nullptr)
            page->setFocus(Qt::TabFocusReason);
        emit currentChanged(page);
    });
}

void ZNavTabWidget::setTabName(int index, const QString &name)
{
    setTabToolTip(index, name);
    tabBar()->setAccessibleTabName(index, name);
    if (QWidget *page = widget(index))
        page->setAccessibleName(name);
}

void ZNavTabWidget::keyPressEvent(QKeyEvent *event)
{
    if (count() == 0 || (event->key() != Qt::Key_Left && event->key() != Qt::Key_Right)) {
        QTabWidget::keyPressEvent(event);
        return;
    }
    const int step = event->key() == Qt::Key_Right ? 1 : -1;
    setCurrentIndex((currentIndex() + step + count()) % count());
}
