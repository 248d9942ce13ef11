// The peers of the start-up bench: an empty Qt 6 window of the phone's size, and with
// `label` the same window showing one line of text (what the first text costs: fonts).
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstring>

int main(int argc, char **argv)
{
    const bool label = argc > 1 && std::strcmp(argv[1], "label") == 0;
    QApplication application(argc, argv);
    QWidget window;
    window.resize(320, 480);
    if (label)
        new QLabel(QStringLiteral("Callvane"), &window);
    window.show();
    return application.exec();
}
