#include "ezx/zapplication.h"

#include <QWidget>

ZApplication::ZApplication(int &argc, char **argv, int /*type*/)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Callvane"));
}

void ZApplication::showMainWidget(QWidget *widget)
{
    widget->show();
    widget->activateWindow();
}
