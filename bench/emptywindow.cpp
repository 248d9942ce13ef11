// The peers of the start-up bench, in the phone's size: an empty Qt 6 window; with `label`,
// the same window showing one line of text (what the first text costs: fonts); with
// `tabs N IMAGES [SCRIPT...]`, a plain Qt window with Callvane's four icon tabs (IMAGES/*.png)
// whose lists hold N rows each, built here: the floor of any window with this screen; with
// SCRIPTs, each run by the shell first, as Callvane runs its start-up commands; with `part
// PROGRAM_DIR STORAGE_DIR` instead, the platform program's own start-up commands first, each
// spawned as it is (the deployment, then the process probe through the shell).
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QStringListModel>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

// Runs `argv` and waits for it, its complaints (a file to remove that is not there) unheard.
void spawn(std::vector<std::string> argv)
{
    std::vector<char *> args;
    for (std::string &arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0)
        ::waitpid(pid, nullptr, 0);
    ::posix_spawn_file_actions_destroy(&actions);
}

void runPlatformStartup(const std::string &program, const std::string &storage)
{
    spawn({"rm", storage + "blacklist"});
    spawn({"rm", storage + "Callvane.cfg"});
    spawn({"cp", program + "blacklist", storage + ".blacklist"});
    spawn({"cp", program + "Callvane.cfg", storage + ".Callvane.cfg"});
    const std::string state = program + "/state";
    spawn({"rm", state});
    spawn({"touch", state});
    spawn({"sh", "-c", "ps -e -o args= | sed -n -e '/.blacklist$/p' >> " + state});
    std::ifstream(state).ignore(4096, '\n');
    spawn({"rm", state});
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
        if (argc == 7 && std::strcmp(argv[4], "part") == 0)
            runPlatformStartup(argv[5], argv[6]);
        for (int script = 4; script < argc && std::strcmp(argv[4], "part") != 0; ++script) {
            [[maybe_unused]] const int status =
                std::system(("{\n" + std::string(argv[script]) + "\n} 2>/dev/null").c_str());
        }
        addTabs(window, std::atoi(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    window.show();
    return application.exec();
}
