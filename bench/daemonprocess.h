#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/types.h>

// The benches' own daemons, found by the path they run from (each bench's temporary
// directory): the daemon forks, so the process a bench started is not the one that serves.
namespace daemonprocess {

// Resident memory of `pid` in KiB; -1 when it is gone or a zombie.
inline long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:" && status >> value)
            return value;
    }
    return -1;
}

// The live process that runs `path`, or -1.
inline pid_t running(const std::string &path)
{
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        const pid_t pid = std::atoi(entry.path().filename().c_str());
        std::ifstream cmdline(entry.path() / "cmdline");
        std::string argv0;
        if (pid > 0 && std::getline(cmdline, argv0, '\0') && argv0 == path && residentKiB(pid) > 0)
            return pid;
    }
    return -1;
}

} // namespace daemonprocess
