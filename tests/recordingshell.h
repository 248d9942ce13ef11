#pragma once

#include "control/shell.h"

#include <functional>
#include <string>
#include <vector>

// Remembers the commands instead of running them; `effect`, when set, plays a command's part.
class RecordingShell : public control::Shell
{
public:
    using Shell::run;
    void run(const std::string &command) override;
    // Runs the sequence as run() does; the daemon is started unless `startFails`.
    bool runStart(const control::Commands &commands, const std::vector<std::string> &sequence) override;

    // Waits nothing; the outcome each wait was for, and `onAwait`, when set, plays it and
    // says whether it came.
    bool awaitDaemon(const std::string &socketPath, bool running) override;

    std::vector<std::string> commands;
    std::vector<bool> awaited;
    std::function<void(const std::string &)> effect;
    std::function<bool(bool running)> onAwait;
    bool startFails = false;
};
