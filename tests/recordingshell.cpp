#include "tests/recordingshell.h"

void RecordingShell::run(const std::string &command)
{
    commands.push_back(command);
    if (effect)
        effect(command);
}

bool RecordingShell::awaitDaemon(const std::string & /*socketPath*/, bool running)
{
    awaited.push_back(running);
    return onAwait ? onAwait(running) : true;
}

bool RecordingShell::runStart(const control::Commands & /*commands*/, const std::vector<std::string> &sequence)
{
    run(sequence);
    return !startFails;
}
