#pragma once

#include "firewall/daemonsocket.h"
#include "firewall/storage.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

// The processes the benches start: their own daemons, found by the path they run from (each
// bench's temporary directory; the daemon forks, so the process a bench started is not the
// one that serves).
namespace daemonprocess {

// A temporary storage directory (its path, with a closing "/"; empty on failure) made from
// `pattern`, taken as the storage of this process and its children, with the daemon built
// here deployed in it. Region ES.
inline std::string temporaryStorage(std::string pattern)
{
    if (::mkdtemp(pattern.data()) == nullptr)
        return {};
    const std::string dir = pattern + "/";
    ::setenv(firewall::Storage::kDirVariable, dir.c_str(), 1);
    ::setenv("CALLVANE_REGION", "ES", 1);
    std::error_code failed;
    std::filesystem::copy_file(CALLVANE_PROGRAM_DIR "/blacklist", dir + ".blacklist", failed);
    return failed ? std::string() : dir;
}

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

// Asks the daemon at `socket` about `number`: whether an answer came. `answer`, when given, is
// told it ("allow" or "block").
inline bool ask(const std::string &socket, const std::string &number, std::string *answer = nullptr)
{
    const int fd = firewall::daemonsocket::connectTo(socket);
    if (fd < 0)
        return false;
    const std::string line = number + "\n";
    char reply[16];
    const bool ok = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size())
        && ::read(fd, reply, sizeof reply) == 6;
    ::close(fd);
    if (ok && answer != nullptr)
        answer->assign(reply, 5);
    return ok;
}

// The live process that runs `path`, with `operand` among its arguments when one is given; or -1.
inline pid_t running(const std::string &path, const std::string &operand = {})
{
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        const pid_t pid = std::atoi(entry.path().filename().c_str());
        std::ifstream cmdline(entry.path() / "cmdline");
        std::vector<std::string> args;
        for (std::string argument; pid > 0 && std::getline(cmdline, argument, '\0');)
            args.push_back(argument);
        // Under qemu-user the emulator and what it runs come before the program's argv[0].
        const auto argv0 = std::find(args.begin(), args.begin() + std::min<size_t>(args.size(), 3), path);
        if (argv0 == args.end() || *argv0 != path || residentKiB(pid) <= 0)
            continue;
        if (operand.empty() || std::find(argv0, args.end(), operand) != args.end())
            return pid;
    }
    return -1;
}

} // namespace daemonprocess
