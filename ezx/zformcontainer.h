#pragma once

#include <QWidget>

// A plain container; its children place themselves with setGeometry(). When the screen
// changes size, the soft keys keep to their bar and the other children to the content area.
class ZFormContainer : public QWidget
{
    Q_OBJECT
public:
    ZFormContainer(QWidget *parent, unsigned int flags, int widgetClass);

    void addChild(QWidget *child, bool show = true, QWidget *before = nullptr);

protected:
    void resizeEvent(QResizeEvent *event) override;
};
