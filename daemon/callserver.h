#pragma once

#include "control/blockedcalllog.h"
#include "control/callscreen.h"

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

class InstallWatch;
class ModemWatcher;
class Reporter;

// Answers calls on a listening UNIX stream socket: one line in (the caller's number, or empty
// or "unknown"), one line out ("block" or "allow"), then the connection is closed. A request
// that is too long, holds control bytes, or is not ended within a second gets no answer; the
// server goes on serving the others. When every slot is taken, the client that has waited
// longest without a word gives way to a new one.
//
// A blocked call is answered first and logged after: when the log's lock is held or the log
// cannot be written, the entry waits in memory and is written as soon as it can be. If the
// socket file is removed or replaced, or its directory moved away and made again, the server
// listens on a new one at the same path.
// Calls that ModemManager reports are screened by the same rule (ModemWatcher). The server
// stops when the installed daemon it was deployed from is removed (InstallWatch).
class CallServer
{
public:
    static constexpr size_t kMaxLine = 128;
    static constexpr std::chrono::milliseconds kRequestTimeout{1000};
    static constexpr size_t kMaxClients = 256;
    static constexpr size_t kMaxUnwritten = 10000;

    struct Paths
    {
        std::string socket;
        std::string log;
        std::string logLock;
    };

    CallServer(int listenFd, Paths paths, const control::CallScreen &screen, InstallWatch &install, Reporter &reporter);
    ~CallServer();
    CallServer(const CallServer &) = delete;
    CallServer &operator=(const CallServer &) = delete;

    // Serves until `stop` becomes non-zero or the package is removed, then writes what waits
    // to be logged (for at most `kFinalWrite`).
    void run(const volatile std::sig_atomic_t &stop);
    static constexpr std::chrono::milliseconds kFinalWrite{1000};

private:
    struct Client
    {
        int fd;
        std::string buffer;
        std::chrono::steady_clock::time_point deadline;
    };

    void acceptClients();
    void makeRoom();
    // False when the client is done (answered, hung up or refused).
    bool serve(Client &client);
    void answer(Client &client, const std::string &number);
    // A blocked call's entry in the log, written now if the log allows, else kept for later.
    void logBlocked(const std::string &number);
    void writeLog();
    int pollTimeout() const;
    void watchSocket();
    bool watchDirectory();
    void keepSocket();
    void keepSocketUnlessStopped(const volatile std::sig_atomic_t &stop);

    int m_listenFd;
    Paths m_paths;
    const control::CallScreen &m_screen;
    InstallWatch &m_install;
    Reporter &m_reporter;
    std::vector<Client> m_clients;

    control::calllog::AppendMark m_logMark;
    std::vector<control::calllog::Entry> m_unwritten;
    std::chrono::steady_clock::time_point m_retryAt;

    std::unique_ptr<ModemWatcher> m_modem;
    int m_watchFd = -1; // inotify on the socket's directory
    int m_watch = -1;
    dev_t m_dirDevice = 0;
    ino_t m_dirInode = 0;
    // While the directory is gone: when to look for it again.
    std::chrono::steady_clock::time_point m_rewatchAt = std::chrono::steady_clock::time_point::max();
    static constexpr std::chrono::milliseconds kRewatch{500};
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
};
