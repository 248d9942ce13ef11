#include "commands.h"
#include "shell.h"
#include "storage.h"
#include "zapplication.h"
#include "zgui.h"

#include <cstdio>
#include <cstring>

ZApplication *app = nullptr;

namespace {

constexpr char kUsage[] = R"(Usage: callvane [--help] [--version] [Qt options]

Callvane, a call firewall: switch it on and off, choose black-list or white-list mode, block
calls without a number, edit both number lists and read the register of blocked calls.

The window's files (the executables blacklist and callvane-ring, images/, languages/ and
the settings file Callvane.cfg) are in the directory it is started from; it writes there too.
Installed, start it as `callvane` from PATH: that prepares such a directory for each user.

Environment:
  CALLVANE_STORAGE  where the daemon, its settings copy and the register live
                    (default /ezxlocal/download/mystuff/; the launcher's default is
                    $XDG_STATE_HOME/callvane/)
  CALLVANE_REGION   two letters (ES, DE, ...): the region of national numbers, for the daemon
)";

// The toolkit takes options of its own (-platform, -style, ...): only these two are ours,
// and they are answered before anything is read, written or shown.
bool answeredOption(int argc, char **argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("callvane %s\n", CALLVANE_VERSION);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (answeredOption(argc, argv))
        return 0;
    control::storage::resolve();
    // The window's first commands (the start's, then its first probe) do not depend on the
    // toolkit: they run while it starts.
    control::SystemShell shell;
    const control::Commands commands(control::Commands::programDirOf(argv[0]), control::storage::dir());
    std::vector<std::string> first = commands.startup();
    for (const std::string &command : commands.probe())
        first.push_back(command);
    shell.runAhead(std::move(first));

    app = new ZApplication(argc, argv, 1);
    // Taken after the toolkit has removed its own options; the window ignores it.
    auto *argument = new QString(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    auto *gui = new ZGui(*argument, nullptr, nullptr, 0, &shell);
    delete argument;
    const int result = app->exec();
    delete gui;
    delete app;
    app = nullptr;
    return result;
}
