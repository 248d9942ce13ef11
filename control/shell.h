#pragma once

#include <functional>
#include <string>
#include <vector>

namespace control {

// Where the window's shell commands go. Results are never looked at.
class Shell
{
public:
    virtual ~Shell() = default;
    virtual void run(const std::string &command) = 0;
    void run(const std::vector<std::string> &commands);
};

// Runs each command through system(), waiting for it.
class SystemShell : public Shell
{
public:
    using Shell::run;
    void run(const std::string &command) override;
};

// Remembers the commands instead of running them; `effect`, when set, plays a command's part.
class RecordingShell : public Shell
{
public:
    using Shell::run;
    void run(const std::string &command) override;

    std::vector<std::string> commands;
    std::function<void(const std::string &)> effect;
};

// Quotes a word for the shell when it holds anything outside A-Za-z0-9_@%+=:,./- , so that
// ordinary paths stay byte-identical and no path can break or extend a command.
std::string shellQuote(const std::string &word);

} // namespace control
