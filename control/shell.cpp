#include "shell.h"

#include <cstdlib>

namespace control {

void Shell::run(const std::vector<std::string> &commands)
{
    for (const std::string &command : commands)
        run(command);
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
