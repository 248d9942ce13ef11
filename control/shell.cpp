#include "shell.h"

#include "daemonsocket.h"

#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace control {

void Shell::run(const std::vector<std::string> &commands)
{
    for (const std::string &command : commands)
        run(command);
}

void Shell::awaitDaemon(const std::string &socketPath, bool running)
{
    const auto giveUp = std::chrono::steady_clock::now() + kDaemonWait;
    for (;;) {
        const int fd = daemonsocket::connectTo(socketPath);
        if (fd >= 0)
            ::close(fd); // says nothing: the daemon answers no call and logs none
        if ((fd >= 0) == running || std::chrono::steady_clock::now() >= giveUp)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void SystemShell::run(const std::string &command)
{
    [[maybe_unused]] const int status = std::system(command.c_str());
}

void RecordingShell::run(const std::string &command)
{
    commands.push_back(command);
    if (effect)
        effect(command);
}

void RecordingShell::awaitDaemon(const std::string & /*socketPath*/, bool running)
{
    awaited.push_back(running);
    if (onAwait)
        onAwait(running);
}

std::string shellQuote(const std::string &word)
{
    static constexpr char kSafe[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-";
    if (word.find_first_not_of(kSafe) == std::string::npos)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace control
