#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace control {

class Commands;

// Where the window's shell commands go. Exit statuses are never looked at; what a command
// says on stderr that is not expected noise (Commands::isExpectedNoise) is passed on to the
// window's stderr, the one place a window without message boxes says it.
class Shell
{
public:
    static constexpr std::chrono::milliseconds kDaemonWait{2000};

    virtual ~Shell() = default;
    virtual void run(const std::string &command) = 0;
    // In order, as run() one by one would.
    virtual void run(const std::vector<std::string> &commands);
    // Runs a sequence that ends in the daemon start (a switch-on, a restart) as
    // Commands::startScript() says. True when the daemon was started.
    virtual bool runStart(const Commands &commands, const std::vector<std::string> &sequence) = 0;
    // Runs the process probe: whether this storage's daemon runs (and is not stopped), or
    // nothing when the probe left no answer to read.
    std::optional<bool> probe(const Commands &commands);
    // After a start or a stop: waits, at most kDaemonWait, until a daemon answers on
    // `socketPath` (running) or none does, so that a process probe that follows sees the
    // outcome and not the moment between.
    // True when it saw what it waited for.
    virtual bool awaitDaemon(const std::string &socketPath, bool running);
};

// Runs each command as system() does, with "sh -c", waiting for it; a plain one (words that
// need no quoting) as the shell would, without it. Its stderr is read until it closes, at most
// kStderrWait after the command ended (a daemon started in the background holds it until it
// has detached). A sequence of plain commands runs one by one, any other in one shell, one
// command a line: a shell started costs an exec, about as much as a short command.
class SystemShell : public Shell
{
public:
    // Past the daemon's longest wait before it detaches or says why it gives up: 3 s for
    // the holder of its lock to let go.
    static constexpr std::chrono::milliseconds kStderrWait{4000};

    void run(const std::string &command) override;
    void run(const std::vector<std::string> &commands) override;
    // As Commands::startScript(), in one shell of a session of its own: a window killed (out
    // of memory, a logout) while it runs cannot leave the firewall stopped.
    bool runStart(const Commands &commands, const std::vector<std::string> &sequence) override;

private:
    // What the script says on stderr is expected noise when it is so for one of `commands`.
    // Its exit status, or -1.
    int runScript(const std::string &script, const std::vector<std::string> &commands, bool ownSession = false);
};

} // namespace control
