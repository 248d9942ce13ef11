#include "daemon/socketserver.h"

#include "firewall/callerid.h"
#include "firewall/callscreen.h"
#include "firewall/daemonsocket.h"

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool isText(std::string_view line)
{
    return std::none_of(line.begin(), line.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t') || byte == 0x7f;
    });
}

} // namespace

SocketServer::SocketServer(sd_event *loop, int listenFd, std::function<bool(const firewall::CallerId &)> blocks,
                           std::function<void(const firewall::CallerId &)> blocked)
    : m_loop(loop)
    , m_listenFd(listenFd)
    , m_blocks(std::move(blocks))
    , m_blocked(std::move(blocked))
    // One call a wakeup: the loop comes back while more are queued, and an accept that finds
    // none costs more than the wait (4 us against 1 on that machine, a tenth of a decision).
    , m_listening(eventloop::io(loop, listenFd, [this] { acceptClient(); }))
{
}

bool SocketServer::acceptClient()
{
    const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return false;
    // A caller has usually written its line by now: answered here, it needs no slot.
    Client client{settingsstore::UniqueFd(fd), {}, eventloop::Clock::now() + kRequestTimeout, nullptr, nullptr};
    if (!serve(client))
        return true;
    if (m_clients.size() >= kMaxClients)
        makeRoom();
    Client &waiting = m_clients.emplace_back(std::move(client));
    waiting.readable = eventloop::io(m_loop, fd, [this, &waiting] {
        if (!serve(waiting))
            drop(&waiting);
    });
    waiting.timeout = eventloop::timer(m_loop, [this, &waiting] { drop(&waiting); });
    // A caller without its deadline could hold its place for ever.
    if (waiting.readable == nullptr || waiting.timeout == nullptr
        || !eventloop::armAt(waiting.timeout.get(), waiting.deadline))
        drop(&waiting);
    return true;
}

// The oldest client goes, whether it said nothing or half a line: a caller says its line at
// once, and one that came last may not have had the time to.
void SocketServer::makeRoom()
{
    const auto victim = std::min_element(m_clients.begin(), m_clients.end(),
                                         [](const Client &a, const Client &b) { return a.deadline < b.deadline; });
    drop(&*victim);
}

void SocketServer::drop(const Client *client)
{
    const auto found =
        std::find_if(m_clients.begin(), m_clients.end(), [client](const Client &c) { return &c == client; });
    m_clients.erase(found);
}

bool SocketServer::serve(Client &client)
{
    char chunk[256];
    for (;;) {
        const ssize_t n = ::read(client.fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK;
        if (n == 0)
            return false; // hung up before the line ended
        client.buffer.append(chunk, static_cast<size_t>(n));
        const auto end = client.buffer.find('\n');
        if (end != std::string::npos) {
            std::string line = client.buffer.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() <= kMaxLine && isText(line))
                answer(client, line);
            return false;
        }
        // A "\r" may end this read and its "\n" come with the next.
        const bool crPending = client.buffer.back() == '\r';
        if (client.buffer.size() > kMaxLine + 1
            || !isText(std::string_view(client.buffer).substr(0, client.buffer.size() - (crPending ? 1 : 0))))
            return false;
    }
}

void SocketServer::answer(Client &client, const std::string &number)
{
    const firewall::CallerId caller(number);
    const bool block = m_blocks(caller);
    const std::string reply =
        std::string(block ? firewall::daemonsocket::kBlock : firewall::daemonsocket::kAllow) + "\n";
    [[maybe_unused]] const ssize_t written = ::send(client.fd.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
    if (block)
        m_blocked(caller);
}
