#include "ezx/zapplication.h"

#include "ezx/zglobal.h"

#include <QWidget>

ZApplication::ZApplication(int &argc, char **argv, int /*type*/)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Callvane"));
}

void ZApplication::showMainWidget(QWidget *widget)
{
    if (ZGlobal::isPhoneScreen())
        widget->showFullScreen();
    else
        widget->show();
    widget->activateWindow();
}
