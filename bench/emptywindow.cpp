// The peer of the start-up bench: an empty Qt 6 window of the phone's size, nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.resize(320, 480);
    window.show();
    return application.exec();
}
