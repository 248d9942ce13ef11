#include "control/shell.h"

#include "control/commands.h"
#include "firewall/daemonlock.h"
#include "firewall/daemonsocket.h"
#include "settingsstore/atomicfile.h"
#include "settingsstore/numberlist.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace control {

namespace {

// The words of a command that the shell would run as it stands: words that need no quoting,
// the first no assignment. Empty for any other command.
std::vector<std::string> plainWords(const std::string &command)
{
    std::vector<std::string> words = settingsstore::splitList(command, ' ');
    const bool plain = !words.empty() && words[0].find('=') == std::string::npos
        && std::all_of(words.begin(), words.end(), [](const std::string &word) { return shellQuote(word) == word; });
    return plain ? words : std::vector<std::string>();
}

// Where `program` is found to be run, as the shell finds it on PATH; empty where it is not.
// Found here, not by posix_spawnp, which does not always report a program it could not run
// (under qemu-user a failed exec comes back as the child's exit): the shell, which says why,
// must run that command.
std::string located(const std::string &program)
{
    if (program.find('/') != std::string::npos)
        return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
    const char *path = std::getenv("PATH");
    for (std::string candidate : settingsstore::splitList(path != nullptr ? path : "/bin:/usr/bin", ':')) {
        candidate += '/';
        candidate += program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// Spawns `command` as system() would, with stderr going to `err`; its pid, or -1. A plain
// command is spawned itself: a shell costs an exec, as much as a short command (on a 2-core
// amd64 machine the start-up's four deployment commands take 11.2 ms so against 13.8 ms in one
// shell, and a lone rm 2.3 ms against 4.6 ms).
pid_t spawn(const std::string &command, int err, bool ownSession)
{
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    if (ownSession)
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    std::vector<std::string> words = plainWords(command);
    const std::string program = words.empty() ? std::string() : located(words[0]);
    std::vector<char *> plain;
    plain.reserve(words.size() + 1);
    for (std::string &word : words)
        plain.push_back(word.data());
    plain.push_back(nullptr);
    const char *const shell[] = {"sh", "-c", command.c_str(), nullptr};
    if ((program.empty() || ::posix_spawn(&pid, program.c_str(), &actions, &attributes, plain.data(), environ) != 0)
        && ::posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char *const *>(shell), environ) != 0)
        pid = -1;
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Whether the process `pid` is in a frozen cgroup: cgroup v2's, or v1's freezer. Neither
// SIGTERM nor SIGKILL ends it until it is thawed.
bool frozen(const std::string &pid)
{
    std::string groups;
    if (!settingsstore::readFile("/proc/" + pid + "/cgroup", groups))
        return false;
    // Lines of "id:controllers:path"; cgroup v2's has no controllers.
    for (const std::string &line : settingsstore::splitList(groups, '\n')) {
        const size_t first = line.find(':');
        const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        std::string state;
        if (controllers.empty() && settingsstore::readFile("/sys/fs/cgroup" + path + "/cgroup.events", state))
            return state.find("frozen 1") != std::string::npos;
        if (controllers == "freezer"
            && settingsstore::readFile("/sys/fs/cgroup/freezer" + path + "/freezer.state", state))
            return state.compare(0, 6, "FROZEN") == 0;
    }
    return false;
}

// Whether the daemon that holds the instance lock is stopped (SIGSTOP, a debugger, a frozen
// cgroup): it answers no call, and must not be shown as on.
bool daemonStopped(const Commands &commands)
{
    std::string holder;
    std::string stat;
    if (!settingsstore::readFile(commands.daemonLockFile(), holder))
        return false;
    const std::string pid = std::to_string(firewall::daemonlock::pid(holder));
    if (!settingsstore::readFile("/proc/" + pid + "/stat", stat))
        return false;
    const size_t name = stat.rfind(") ");
    return (name != std::string::npos && name + 2 < stat.size() && (stat[name + 2] == 'T' || stat[name + 2] == 't'))
        || frozen(pid);
}

} // namespace

void Shell::run(const std::vector<std::string> &commands)
{
    for (const std::string &command : commands)
        run(command);
}

std::optional<bool> Shell::probe(const Commands &commands)
{
    run(commands.probe());
    std::string state;
    std::optional<bool> running;
    // Any line: another storage's daemon, or a program of that name, may be listed first.
    if (settingsstore::readFile(commands.probeFile(), state)) {
        const std::vector<std::string> lines = settingsstore::splitList(state, '\n');
        running =
            std::find(lines.begin(), lines.end(), commands.daemonMark()) != lines.end() && !daemonStopped(commands);
    }
    run(commands.removeProbeFile());
    return running;
}

bool Shell::awaitDaemon(const std::string &socketPath, bool running)
{
    const auto giveUp = std::chrono::steady_clock::now() + kDaemonWait;
    for (;;) {
        const int fd = firewall::daemonsocket::connectTo(socketPath);
        if (fd >= 0)
            ::close(fd); // says nothing: the daemon answers no call and logs none
        if ((fd >= 0) == running)
            return true;
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void SystemShell::run(const std::string &command)
{
    runScript(command, {command});
}

void SystemShell::run(const std::vector<std::string> &commands)
{
    // Plain commands go one by one, each spawned itself; a sequence with another, in one shell.
    if (std::all_of(commands.begin(), commands.end(),
                    [](const std::string &command) { return !plainWords(command).empty(); })) {
        for (const std::string &command : commands)
            run(command);
        return;
    }
    std::string script;
    for (const std::string &command : commands)
        script += command + '\n';
    if (!script.empty())
        runScript(script, commands);
}

bool SystemShell::runStart(const Commands &commands, const std::vector<std::string> &sequence)
{
    std::vector<std::string> run = sequence;
    run.push_back(commands.daemonStop()); // in the script where the start is not
    return runScript(commands.startScript(sequence), run, true) == 0;
}

int SystemShell::runScript(const std::string &script, const std::vector<std::string> &commands, bool ownSession)
{
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0) {
        const int status = std::system(script.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const pid_t shell = spawn(script, err[1], ownSession);
    const bool spawned = shell > 0;
    ::close(err[1]);

    std::string said;
    int status = -1;
    bool ended = !spawned;
    auto giveUp = std::chrono::steady_clock::time_point::max();
    for (;;) {
        if (!ended && ::waitpid(shell, &status, WNOHANG) == shell) {
            ended = true;
            giveUp = std::chrono::steady_clock::now() + kStderrWait;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= giveUp)
            break;
        pollfd reader{err[0], POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - now).count();
        if (::poll(&reader, 1, ended ? static_cast<int>(left) + 1 : 20) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(err[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        said.append(buffer, static_cast<size_t>(n));
    }
    ::close(err[0]);
    if (!ended)
        ::waitpid(shell, &status, 0);

    for (const std::string &line : settingsstore::splitList(said, '\n')) {
        if (std::none_of(commands.begin(), commands.end(),
                         [&line](const std::string &command) { return Commands::isExpectedNoise(command, line); }))
            std::fprintf(stderr, "%s\n", line.c_str());
    }
    return spawned && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace control
