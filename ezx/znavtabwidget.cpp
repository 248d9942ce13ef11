#include "ezx/znavtabwidget.h"

#include <QKeyEvent>
#include <QTabBar>

ZNavTabWidget::ZNavTabWidget(QWidget *parent, const char *name, int /*widgetClass*/)
    : QTabWidget(parent)
{
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
