#include "app/zgui.h"
#include "ezx/zapplication.h"
#include "firewall/storage.h"

ZApplication *app = nullptr;

// Only the invocation path counts: other arguments are the toolkit's, or ignored. The
// launcher on PATH answers --help and --version.
int main(int argc, char **argv)
{
    const firewall::Storage storage = firewall::Storage::fromEnvironment();
    app = new ZApplication(argc, argv, 1);
    // Taken after the toolkit has removed its own options; the window ignores it.
    auto *argument = new QString(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    auto *gui = new ZGui(*argument, nullptr, nullptr, 0, nullptr, storage);
    delete argument;
    const int result = app->exec();
    delete gui;
    delete app;
    app = nullptr;
    return result;
}
