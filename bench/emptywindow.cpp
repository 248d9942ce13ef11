// The peers of the start-up bench, in the phone's size: an empty Qt 6 window; with `label`,
// the same window showing one line of text (what the first text costs: fonts); with
// `tabs N IMAGES [SCRIPT...]`, a plain Qt window with Callvane's four icon tabs (IMAGES/*.png)
// whose lists hold N rows each, built here: the floor of any window with this screen; with
// SCRIPTs, each run by the shell first, as Callvane runs its start-up commands.
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QStringListModel>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

QListView *listOf(QStringList rows)
{
    auto *view = new QListView;
    view->setUniformItemSizes(true);
    view->setModel(new QStringListModel(std::move(rows), view));
    return view;
}

void addTabs(QWidget &window, int rows, const QString &images)
{
    QStringList black;
    QStringList white;
    QStringList calls;
    for (int i = 0; i < rows; ++i) {
        black << QStringLiteral("+346%1").arg(10000000 + i);
        white << QStringLiteral("+347%1").arg(10000000 + i);
        calls << QStringLiteral("+346%1\n2026-12-08 10:00:00").arg(10000000 + i);
    }
    auto *tabs = new QTabWidget;
    tabs->addTab(new QLabel(QStringLiteral("Firewall: On")), QIcon(images + "/settings.png"), QString());
    tabs->addTab(listOf(black), QIcon(images + "/black.png"), QString());
    tabs->addTab(listOf(white), QIcon(images + "/white.png"), QString());
    tabs->addTab(listOf(calls), QIcon(images + "/reg.png"), QString());
    (new QVBoxLayout(&window))->addWidget(tabs);
}

} // namespace

int main(int argc, char **argv)
{
    const char *mode = argc > 1 ? argv[1] : "";
    QApplication application(argc, argv);
    QWidget window;
    window.resize(360, 720);
    if (std::strcmp(mode, "label") == 0)
        new QLabel(QStringLiteral("Callvane"), &window);
    else if (std::strcmp(mode, "tabs") == 0 && argc > 3) {
        for (int script = 4; script < argc; ++script) {
            [[maybe_unused]] const int status =
                std::system(("{\n" + std::string(argv[script]) + "} 2>/dev/null").c_str());
        }
        addTabs(window, std::atoi(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    window.show();
    return application.exec();
}
