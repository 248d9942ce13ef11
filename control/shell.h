#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace control {

// Where the window's shell commands go. Results are never looked at.
class Shell
{
public:
    static constexpr std::chrono::milliseconds kDaemonWait{2000};

    virtual ~Shell() = default;
    virtual void run(const std::string &command) = 0;
    void run(const std::vector<std::string> &commands);
    // After a start or a stop: waits, at most kDaemonWait, until a daemon answers on
    // `socketPath` (running) or none does, so that a process probe that follows sees the
    // outcome and not the moment between.
    virtual void awaitDaemon(const std::string &socketPath, bool running);
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

    // Waits nothing; the outcome each wait was for, and `onAwait`, when set, plays it.
    void awaitDaemon(const std::string &socketPath, bool running) override;

    std::vector<std::string> commands;
    std::vector<bool> awaited;
    std::function<void(const std::string &)> effect;
    std::function<void(bool running)> onAwait;
};

// Quotes a word for the shell when it holds anything outside A-Za-z0-9_@%+=:,./- , so that
// ordinary paths stay byte-identical and no path can break or extend a command.
std::string shellQuote(const std::string &word);

} // namespace control
