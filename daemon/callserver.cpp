#include "daemon/callserver.h"

#include "control/blockedcalllog.h"
#include "control/daemonsocket.h"
#include "daemon/installwatch.h"
#include "daemon/modemwatcher.h"
#include "daemon/reporter.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <string_view>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
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

std::string directoryOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

int millisecondsUntil(std::chrono::steady_clock::time_point when)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count())) + 1;
}

} // namespace

CallServer::CallServer(int listenFd, Paths paths, const control::CallScreen &screen, InstallWatch &install,
                       Reporter &reporter)
    : m_listenFd(listenFd)
    , m_paths(std::move(paths))
    , m_screen(screen)
    , m_install(install)
    , m_reporter(reporter)
{
    watchSocket();
    keepSocket();
    m_modem = std::make_unique<ModemWatcher>([this](const std::string &number) { return m_screen.blocks(number); },
                                             [this](const std::string &number) { logBlocked(number); }, m_reporter);
}

CallServer::~CallServer()
{
    for (const Client &client : m_clients)
        ::close(client.fd);
    if (m_watchFd >= 0)
        ::close(m_watchFd);
}

void CallServer::run(const volatile std::sig_atomic_t &stop)
{
    std::vector<pollfd> fds;
    while (stop == 0) {
        fds.clear();
        fds.push_back({m_listenFd, POLLIN, 0});
        fds.push_back({m_watchFd, POLLIN, 0});
        fds.push_back({m_modem->fd(), m_modem->events(), 0});
        fds.push_back({m_install.fd(), POLLIN, 0});
        for (const Client &client : m_clients)
            fds.push_back({client.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), pollTimeout()) < 0 && errno != EINTR)
            break;
        if (stop != 0)
            break;
        m_modem->process();
        // Clients first: fds[i + 4] belongs to m_clients[i] as they were before accepting.
        const auto polledAt = std::chrono::steady_clock::now();
        const auto installDue = m_install.dueAt();
        if (((fds[3].revents & POLLIN) != 0 || (installDue && polledAt >= *installDue)) && m_install.removed()) {
            m_reporter.report("installed", m_install.path() + " was removed (the package was uninstalled): stopping");
            break;
        }
        size_t next = 0;
        for (size_t i = 0; i < m_clients.size(); ++i) {
            Client &client = m_clients[i];
            bool keep = polledAt < client.deadline;
            if (keep && (fds[i + 4].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
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
        if ((fds[1].revents & POLLIN) != 0 || polledAt >= m_rewatchAt)
            keepSocketUnlessStopped(stop);
        if (!m_unwritten.empty() && polledAt >= m_retryAt)
            writeLog();
    }
    const auto giveUp = std::chrono::steady_clock::now() + kFinalWrite;
    while (!m_unwritten.empty() && std::chrono::steady_clock::now() < giveUp) {
        writeLog();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!m_unwritten.empty()) {
        m_reporter.report("lost",
                          std::to_string(m_unwritten.size()) + " blocked calls were not logged: " + m_paths.log
                              + " could not be written before the daemon stopped");
    }
}

int CallServer::pollTimeout() const
{
    int timeout = -1; // nothing to wait for: sleep until something happens
    const auto earliest = [&timeout](std::chrono::steady_clock::time_point when) {
        const int wait = millisecondsUntil(when);
        timeout = timeout < 0 ? wait : std::min(timeout, wait);
    };
    for (const Client &client : m_clients)
        earliest(client.deadline);
    if (!m_unwritten.empty())
        earliest(m_retryAt);
    if (m_rewatchAt != std::chrono::steady_clock::time_point::max())
        earliest(m_rewatchAt);
    if (const auto modem = m_modem->dueAt())
        earliest(*modem);
    if (const auto install = m_install.dueAt())
        earliest(*install);
    return timeout;
}

void CallServer::acceptClients()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        // A caller has usually written its line by now: answered here, it needs no slot.
        Client client{fd, {}, std::chrono::steady_clock::now() + kRequestTimeout};
        if (!serve(client)) {
            ::close(fd);
            continue;
        }
        if (m_clients.size() >= kMaxClients)
            makeRoom();
        m_clients.push_back(std::move(client));
    }
}

// Idle clients go before those in the middle of a line; the oldest first.
void CallServer::makeRoom()
{
    const auto victim = std::min_element(m_clients.begin(), m_clients.end(), [](const Client &a, const Client &b) {
        return std::make_pair(!a.buffer.empty(), a.deadline) < std::make_pair(!b.buffer.empty(), b.deadline);
    });
    ::close(victim->fd);
    m_clients.erase(victim);
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
    const std::string reply = std::string(block ? control::daemonsocket::kBlock : control::daemonsocket::kAllow) + "\n";
    [[maybe_unused]] const ssize_t written = ::send(client.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    if (block)
        logBlocked(number);
}

void CallServer::logBlocked(const std::string &number)
{
    const std::string shown = control::CallScreen::isUnknownCaller(number) ? control::calllog::kUnknownCaller
                                                                           : control::calllog::oneLine(number);
    m_unwritten.push_back({shown, localTimestamp()});
    if (m_unwritten.size() > kMaxUnwritten) {
        m_reporter.report("lost",
                          "blocked calls are being dropped from the log: " + m_paths.log + " has not been writable for "
                              + std::to_string(kMaxUnwritten) + " calls");
        m_unwritten.erase(m_unwritten.begin());
    }
    if (std::chrono::steady_clock::now() >= m_retryAt)
        writeLog();
}

void CallServer::writeLog()
{
    using control::calllog::AppendResult;
    const AppendResult result = control::calllog::append(m_paths.log, m_paths.logLock, m_unwritten, &m_logMark, false);
    const int error = errno;
    const auto now = std::chrono::steady_clock::now();
    switch (result) {
    case AppendResult::Written:
        m_unwritten.clear();
        m_reporter.resolved("log");
        m_reporter.resolved("lost");
        m_retryAt = now;
        break;
    case AppendResult::Busy: // someone is rewriting the log; that takes moments
        m_retryAt = now + std::chrono::milliseconds(20);
        break;
    case AppendResult::Failed:
        m_reporter.report("log",
                          "cannot write the blocked-call log " + m_paths.log + ": " + std::strerror(error)
                              + "; blocked calls are kept and written once it can be written");
        m_retryAt = now + std::chrono::seconds(1);
        break;
    }
}

void CallServer::watchSocket()
{
    m_watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watchFd < 0)
        m_reporter.report("watch",
                          std::string("cannot watch the socket file, a removed one is not replaced: ")
                              + std::strerror(errno));
}

// The watch follows the directory at the socket's path: one moved away and made again is
// watched anew. False while there is none.
bool CallServer::watchDirectory()
{
    const std::string dir = directoryOf(m_paths.socket);
    struct stat st = {};
    if (::stat(dir.c_str(), &st) != 0)
        return false;
    if (m_watchFd < 0 || (m_watch >= 0 && st.st_dev == m_dirDevice && st.st_ino == m_dirInode))
        return true;
    if (m_watch >= 0)
        ::inotify_rm_watch(m_watchFd, m_watch);
    m_watch = ::inotify_add_watch(m_watchFd, dir.c_str(),
                                  IN_DELETE | IN_CREATE | IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF | IN_DELETE_SELF
                                      | IN_ONLYDIR);
    m_dirDevice = st.st_dev;
    m_dirInode = st.st_ino;
    return m_watch >= 0;
}

// A daemon told to stop has let go of the instance lock, and its successor may already listen
// at the path: taking the path back would leave the successor unreachable. So the stop is held
// off while it is checked and the socket kept.
void CallServer::keepSocketUnlessStopped(const volatile std::sig_atomic_t &stop)
{
    sigset_t stops;
    sigset_t before;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &stops, &before);
    if (stop == 0)
        keepSocket();
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// A socket file that was removed or replaced leaves the daemon unreachable: listen anew.
void CallServer::keepSocket()
{
    char events[4096];
    while (m_watchFd >= 0 && ::read(m_watchFd, events, sizeof events) > 0) { }
    if (!watchDirectory()) {
        m_rewatchAt = std::chrono::steady_clock::now() + kRewatch;
        return;
    }
    m_rewatchAt = std::chrono::steady_clock::time_point::max();
    struct stat st = {};
    const bool exists = ::stat(m_paths.socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
    if (exists && (m_socketInode == 0 || (st.st_dev == m_socketDevice && st.st_ino == m_socketInode))) {
        m_socketDevice = st.st_dev;
        m_socketInode = st.st_ino;
        return;
    }
    acceptClients(); // those already queued on the old socket
    const int fd = control::daemonsocket::listenAt(m_paths.socket);
    if (fd < 0) {
        m_reporter.report("socket", "cannot listen on " + m_paths.socket + " again: " + std::strerror(errno));
        return;
    }
    m_reporter.resolved("socket");
    ::close(m_listenFd);
    m_listenFd = fd;
    const bool known = ::stat(m_paths.socket.c_str(), &st) == 0;
    m_socketDevice = known ? st.st_dev : 0;
    m_socketInode = known ? st.st_ino : 0;
}
