#pragma once

#include "daemon/runtime/eventloop.h"
#include "settingsstore/uniquefd.h"

#include <chrono>
#include <functional>
#include <list>
#include <string>

namespace firewall {
class CallerId;
} // namespace firewall

// Answers calls on a listening UNIX stream socket: one line in (the caller's number, or empty
// or "unknown"), one line out ("block" or "allow"), then the connection is closed. A request
// that is too long, holds control bytes, or is not ended within kRequestTimeout gets no
// answer; the server goes on serving the others. When every slot is taken, the client that
// has waited longest gives way to a new one.
class SocketServer
{
public:
    static constexpr size_t kMaxLine = 128;
    static constexpr std::chrono::milliseconds kRequestTimeout{1000};
    static constexpr size_t kMaxClients = 256;

    // `blocks` decides; `blocked` is told of each call answered "block", after the answer.
    SocketServer(sd_event *loop, int listenFd, std::function<bool(const firewall::CallerId &caller)> blocks,
                 std::function<void(const firewall::CallerId &caller)> blocked);
    SocketServer(const SocketServer &) = delete;
    SocketServer &operator=(const SocketServer &) = delete;

private:
    struct Client
    {
        settingsstore::UniqueFd fd; // closed after its sources are gone
        std::string buffer;
        eventloop::Clock::time_point deadline;
        eventloop::Source readable;
        eventloop::Source timeout;
    };

    // False when no call was waiting.
    bool acceptClient();
    void makeRoom();
    // False when the client is done (answered, hung up or refused).
    bool serve(Client &client);
    void answer(Client &client, const std::string &number);
    void drop(const Client *client);

    sd_event *m_loop;
    int m_listenFd;
    std::function<bool(const firewall::CallerId &)> m_blocks;
    std::function<void(const firewall::CallerId &)> m_blocked;
    eventloop::Source m_listening;
    std::list<Client> m_clients;
};
