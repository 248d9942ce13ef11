#pragma once

#include <QTabWidget>

// Icon-only navigation tabs. Left and Right (left over by the current page) change the tab,
// and the new page takes the keyboard focus.
class ZNavTabWidget : public QTabWidget
{
    Q_OBJECT
public:
    ZNavTabWidget(QWidget *parent, const char *name, int widgetClass);

    int currentPageIndex() const { return currentIndex(); }
    // The name of an icon-only tab, for a screen reader and as its tool tip.
    void setTabName(int index, const QString &name);

signals:
    void currentChanged(QWidget *page);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
