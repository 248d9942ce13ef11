#include "callserver.h"

#include "blockedcalllog.h"
#include "daemonsocket.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string localTimestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

bool isText(std::string_view line)
{
    return std::none_of(line.begin(), line.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t') || byte == 0x7f;
    });
}

} // namespace

CallServer::CallServer(int listenFd, const control::CallScreen &screen, std::string logPath,
                       std::string logLockPath)
    : m_listenFd(listenFd)
    , m_screen(screen)
    , m_logPath(std::move(logPath))
    , m_logLockPath(std::move(logLockPath))
{
}

void CallServer::run(const volatile std::sig_atomic_t &stop)
{
    std::vector<pollfd> fds;
    while (stop == 0) {
        fds.clear();
        fds.push_back({m_listenFd, POLLIN, 0});
        for (const Client &client : m_clients)
            fds.push_back({client.fd, POLLIN, 0});

        int timeout = -1; // no client waiting: sleep until something happens
        const auto now = std::chrono::steady_clock::now();
        for (const Client &client : m_clients) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(client.deadline - now).count();
            const int wait = static_cast<int>(std::max<long long>(0, left)) + 1;
            timeout = timeout < 0 ? wait : std::min(timeout, wait);
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            return;
        if (stop != 0)
            return;

        // Clients first: fds[i + 1] belongs to m_clients[i] as they were before accepting.
        const auto polledAt = std::chrono::steady_clock::now();
        size_t next = 0;
        for (size_t i = 0; i < m_clients.size(); ++i) {
            Client &client = m_clients[i];
            bool keep = polledAt < client.deadline;
            if (keep && (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
                keep = serve(client);
            if (keep) {
                // Moving a client onto itself would empty the line it has read so far.
                if (next != i)
                    m_clients[next] = std::move(client);
                ++next;
            } else
                ::close(client.fd);
        }
        m_clients.resize(next);
        if ((fds[0].revents & POLLIN) != 0)
            acceptClients();
    }
}

void CallServer::acceptClients()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (m_clients.size() >= kMaxClients) {
            ::close(fd);
            continue;
        }
        m_clients.push_back({fd, {}, std::chrono::steady_clock::now() + kRequestTimeout});
    }
}

bool CallServer::serve(Client &client)
{
    char chunk[256];
    for (;;) {
        const ssize_t n = ::read(client.fd, chunk, sizeof chunk);
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

void CallServer::answer(Client &client, const std::string &number)
{
    const bool block = m_screen.blocks(number);
    if (block) {
        const std::string shown = control::CallScreen::isUnknownCaller(number) ? control::calllog::kUnknownCaller : number;
        control::calllog::append(m_logPath, m_logLockPath, {shown, localTimestamp()}, &m_logMark);
    }
    const std::string reply = std::string(block ? control::daemonsocket::kBlock : control::daemonsocket::kAllow) + "\n";
    [[maybe_unused]] const ssize_t written = ::send(client.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
}
