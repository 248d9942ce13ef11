// Callvane's window as app/main.cpp starts it, but with a shell that only records: the
// start-up bench's measure of the window without its seven start-up commands.
#include "app/zgui.h"
#include "ezx/zapplication.h"
#include "firewall/storage.h"
#include "tests/recordingshell.h"

ZApplication *app = nullptr;

int main(int argc, char **argv)
{
    const firewall::Storage storage = firewall::Storage::fromEnvironment();
    app = new ZApplication(argc, argv, 1);
    RecordingShell shell;
    auto *gui = new ZGui(QString(), nullptr, nullptr, 0, &shell, storage);
    const int result = app->exec();
    delete gui;
    delete app;
    return result;
}
