#include "ezx/zapplication.h"

#include "ezx/zglobal.h"

#include <QWidget>

ZApplication::ZApplication(int &argc, char **argv, int /*type*/)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Callvane"));
}

// On a phone the shell's bars stay: the window takes the room the shell gives its apps
// (maximized, never fullscreen over them), with no title bar of Qt's drawing.
void ZApplication::showMainWidget(QWidget *widget)
{
    if (ZGlobal::isPhoneScreen()) {
        widget->setWindowFlag(Qt::FramelessWindowHint);
        widget->showMaximized();
    } else {
        widget->show();
    }
    widget->activateWindow();
}
