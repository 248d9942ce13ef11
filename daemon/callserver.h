#pragma once

#include "blockedcalllog.h"
#include "callscreen.h"

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

// Answers calls on a listening UNIX stream socket: one line in (the caller's number, or empty
// or "unknown"), one line out ("block" or "allow"), then the connection is closed. A request
// that is too long, holds control bytes, or is not ended within a second gets no answer; the
// server goes on serving the others. Blocked calls are appended to the log.
class CallServer
{
public:
    static constexpr size_t kMaxLine = 128;
    static constexpr std::chrono::milliseconds kRequestTimeout{1000};
    static constexpr size_t kMaxClients = 256;

    CallServer(int listenFd, const control::CallScreen &screen, std::string logPath, std::string logLockPath);

    // Serves until `stop` becomes non-zero.
    void run(const volatile std::sig_atomic_t &stop);

private:
    struct Client
    {
        int fd;
        std::string buffer;
        std::chrono::steady_clock::time_point deadline;
    };

    void acceptClients();
    // False when the client is done (answered, hung up or refused).
    bool serve(Client &client);
    void answer(Client &client, const std::string &number);

    int m_listenFd;
    const control::CallScreen &m_screen;
    std::string m_logPath;
    std::string m_logLockPath;
    control::calllog::AppendMark m_logMark;
    std::vector<Client> m_clients;
};
