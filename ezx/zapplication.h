#pragma once

#include <QApplication>

// The platform's application object: the event loop, quit(), and the one main widget.
class ZApplication : public QApplication
{
    Q_OBJECT
public:
    ZApplication(int &argc, char **argv, int type = 1);

    void showMainWidget(QWidget *widget);
};
