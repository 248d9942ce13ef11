#include "daemon/socketkeeper.h"

#include "daemon/reporter.h"
#include "daemon/socketserver.h"
#include "firewall/daemonsocket.h"
#include "settingsstore/atomicfile.h"

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

SocketKeeper::SocketKeeper(sd_event *loop, std::string path, SocketServer &server, Reporter &reporter)
    : m_path(std::move(path))
    , m_server(server)
    , m_reporter(reporter)
    , m_watchFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (m_watchFd >= 0)
        m_changes = eventloop::io(loop, m_watchFd, [this] { keep(); });
    else
        m_reporter.report(Fault::Watch,
                          std::string("cannot watch the socket file, a removed one is not replaced: ")
                              + std::strerror(errno));
    m_rewatch = eventloop::timer(loop, [this] { keep(); });
    keep();
}

SocketKeeper::~SocketKeeper()
{
    m_changes.reset();
    if (m_watchFd >= 0)
        ::close(m_watchFd);
}

bool SocketKeeper::watchDirectory()
{
    const std::string dir = control::directoryOf(m_path);
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

// A socket file that was removed or replaced leaves the daemon unreachable: listen anew.
void SocketKeeper::keep()
{
    char events[4096];
    while (m_watchFd >= 0 && ::read(m_watchFd, events, sizeof events) > 0) { }
    if (!watchDirectory()) {
        if (m_rewatch != nullptr)
            eventloop::armAt(m_rewatch.get(), eventloop::Clock::now() + kRewatch);
        return;
    }
    struct stat st = {};
    const bool exists = ::stat(m_path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
    if (exists && (m_socketInode == 0 || (st.st_dev == m_socketDevice && st.st_ino == m_socketInode))) {
        m_socketDevice = st.st_dev;
        m_socketInode = st.st_ino;
        return;
    }
    const int fd = control::daemonsocket::listenAt(m_path);
    if (fd < 0) {
        m_reporter.report(Fault::Socket, "cannot listen on " + m_path + " again: " + std::strerror(errno));
        return;
    }
    m_reporter.resolved(Fault::Socket);
    m_server.listenOn(fd);
    const bool known = ::stat(m_path.c_str(), &st) == 0;
    m_socketDevice = known ? st.st_dev : 0;
    m_socketInode = known ? st.st_ino : 0;
}
