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

    // Waits nothing; the outcome each wait was for, and `onAwait`, when set, plays it and
    // says whether it came.
    bool awaitDaemon(const std::string &socketPath, bool running) override;

    std::vector<std::string> commands;
    std::vector<bool> awaited;
    std::function<void(const std::string &)> effect;
    std::function<bool(bool running)> onAwait;
    // Said on stderr by the next commands, as if by the shell.
    void sayError(const std::string &line) { m_errors.push_back(line); }
};
