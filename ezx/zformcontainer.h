#pragma once

#include <QWidget>

// A plain container; its children place themselves with setGeometry().
class ZFormContainer : public QWidget
{
    Q_OBJECT
public:
    ZFormContainer(QWidget *parent, unsigned int flags, int widgetClass);

    void addChild(QWidget *child, bool show = true, QWidget *before = nullptr);
};
