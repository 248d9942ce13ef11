#include "shell.h"

#include "commands.h"
#include "daemonsocket.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace control {

namespace {

constexpr std::string_view kBare = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-";

// Spawns `command` with stderr going to `err`; its pid, or -1.
pid_t spawn(const std::string &command, int err)
{
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    pid_t pid = -1;
    // One exec fewer: the shell's start costs what the program's does, and the window's start
    // runs seven commands before its first probe has an answer.
    std::vector<std::string> words = plainWords(command);
    if (!words.empty()) {
        std::vector<char *> argv;
        for (std::string &word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        // A program that is not there: the shell says so as it always does.
        if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
    }
    if (pid < 0) {
        const char *const argv[] = {"sh", "-c", command.c_str(), nullptr};
        if (::posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char *const *>(argv), environ) != 0)
            pid = -1;
    }
    ::posix_spawn_file_actions_destroy(&actions);
    return pid;
}

} // namespace

void Shell::run(const std::vector<std::string> &commands)
{
    for (const std::string &command : commands)
        run(command);
}

bool Shell::runStart(const Commands &commands, const std::vector<std::string> &sequence)
{
    bool deployFailed = false;
    for (const std::string &command : sequence) {
        const size_t said = m_errors.size();
        run(deployFailed && command == commands.daemonStart() ? commands.daemonStop() : command);
        deployFailed = deployFailed || (command == commands.deploySettings() && m_errors.size() > said);
    }
    return !deployFailed;
}

std::vector<std::string> Shell::takeErrors()
{
    return std::exchange(m_errors, {});
}

bool Shell::awaitDaemon(const std::string &socketPath, bool running)
{
    const auto giveUp = std::chrono::steady_clock::now() + kDaemonWait;
    for (;;) {
        const int fd = daemonsocket::connectTo(socketPath);
        if (fd >= 0)
            ::close(fd); // says nothing: the daemon answers no call and logs none
        if ((fd >= 0) == running)
            return true;
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

SystemShell::~SystemShell()
{
    dropRunAhead();
}

void SystemShell::runAhead(std::vector<std::string> commands)
{
    dropRunAhead();
    m_ahead = std::move(commands);
    m_aheadErrors.clear();
    m_claimed = 0;
    m_drop = false;
    m_worker = std::thread([this] {
        for (size_t i = 0; i < m_ahead.size(); ++i) {
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (m_drop)
                    break;
            }
            std::vector<std::string> errors = execute(m_ahead[i]);
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_aheadErrors.push_back(std::move(errors));
            m_ended.notify_all();
        }
    });
}

void SystemShell::dropRunAhead()
{
    if (!m_worker.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_drop = true;
    }
    m_worker.join();
    m_ahead.clear();
}

void SystemShell::run(const std::string &command)
{
    if (m_worker.joinable() && m_claimed < m_ahead.size() && m_ahead[m_claimed] == command) {
        const size_t index = m_claimed++;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ended.wait(lock, [&] { return m_aheadErrors.size() > index; });
        m_errors.insert(m_errors.end(), m_aheadErrors[index].begin(), m_aheadErrors[index].end());
        return;
    }
    dropRunAhead();
    const std::vector<std::string> errors = execute(command);
    m_errors.insert(m_errors.end(), errors.begin(), errors.end());
}

std::vector<std::string> SystemShell::execute(const std::string &command)
{
    std::vector<std::string> errors;
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0) {
        [[maybe_unused]] const int status = std::system(command.c_str());
        return errors;
    }
    const pid_t shell = spawn(command, err[1]);
    const bool spawned = shell > 0;
    ::close(err[1]);

    std::string said;
    bool ended = !spawned;
    auto giveUp = std::chrono::steady_clock::time_point::max();
    for (;;) {
        if (!ended && ::waitpid(shell, nullptr, WNOHANG) == shell) {
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
        ::waitpid(shell, nullptr, 0);

    size_t start = 0;
    while (start < said.size()) {
        size_t end = said.find('\n', start);
        if (end == std::string::npos)
            end = said.size();
        const std::string line = said.substr(start, end - start);
        start = end + 1;
        if (line.empty() || Commands::isExpectedNoise(command, line))
            continue;
        std::fprintf(stderr, "%s\n", line.c_str());
        errors.push_back(line);
    }
    return errors;
}

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

std::vector<std::string> plainWords(std::string_view command)
{
    // dash's builtins and keywords: as the first word they are the shell's, not a program's.
    static constexpr std::string_view kShellOwn[] = {
        "alias", "bg",   "break",    "case",   "cd",      "command", "continue", "do",    "done",  "echo",
        "elif",  "else", "esac",     "eval",   "exec",    "exit",    "export",   "false", "fc",    "fg",
        "fi",    "for",  "getopts",  "hash",   "if",      "in",      "jobs",     "kill",  "local", "printf",
        "pwd",   "read", "readonly", "return", "set",     "shift",   "test",     "then",  "times", "trap",
        "true",  "type", "ulimit",   "umask",  "unalias", "unset",   "until",    "wait",  "while"};
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(std::exchange(word, {}));
            inWord = false;
            continue;
        }
        // An assignment before the program is the shell's to make.
        if (c == '=' && words.empty())
            return {};
        inWord = true;
        if (c == '\'') {
            const size_t end = command.find('\'', i + 1);
            if (end == std::string_view::npos)
                return {};
            word.append(command.substr(i + 1, end - i - 1));
            i = end;
        } else if (c == '\\' && i + 1 < command.size() && command[i + 1] != '\n') {
            word += command[++i];
        } else if (kBare.find(c) != std::string_view::npos) {
            word += c;
        } else {
            return {};
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    if (words.empty() || std::find(std::begin(kShellOwn), std::end(kShellOwn), words[0]) != std::end(kShellOwn))
        return {};
    return words;
}

std::string shellQuote(const std::string &word)
{
    if (word.find_first_not_of(kBare) == std::string::npos)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace control
