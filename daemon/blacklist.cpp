// The blocking daemon. Started as <storage>.blacklist by the window; screens the calls that
// arrive on <storage>.blacklist.sock with the settings of <storage>.Callvane.cfg as they were
// at its start. One instance at a time: a second start exits at once with status 0.

#include "callscreen.h"
#include "callserver.h"
#include "daemonsocket.h"
#include "firewallsettings.h"
#include "settingsstore.h"
#include "storage.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;
int g_lockFd = -1;

void onTerminate(int /*signal*/)
{
    // Releasing the lock first lets the restart that sent this signal take over at once.
    if (g_lockFd >= 0)
        ::close(g_lockFd);
    g_lockFd = -1;
    g_stop = 1;
}

// Waits a little for a daemon that is just being stopped (a restart); false while another
// one keeps running.
bool takeInstanceLock(const std::string &path)
{
    g_lockFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (g_lockFd < 0)
        return false;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (::flock(g_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Bound only: the socket listens once the daemon has detached.
int bindTo(const std::string &path)
{
    sockaddr_un address{};
    if (!control::daemonsocket::address(path, address)) {
        std::fprintf(stderr, "blacklist: socket path too long: %s\n", path.c_str());
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // We hold the instance lock, so a socket file left here belongs to a daemon that died.
    ::unlink(path.c_str());
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "blacklist: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        return -1;
    }
    return fd;
}

// Forks; the parent returns to its caller (status 0) once the child listens, so that a script
// that starts the daemon in the foreground goes on when calls can be answered. The parent is
// gone (or a zombie, which the probe passes over) by the time a probe that waited for the
// daemon to answer lists the processes.
bool detach(int listenFd)
{
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child > 0) {
        ::close(ready[1]);
        char byte = 0;
        ssize_t n = 0;
        while ((n = ::read(ready[0], &byte, 1)) < 0 && errno == EINTR) {
        }
        // A stop sent while the daemon was starting (a killall that found only this process)
        // is meant for the daemon; one that comes from here on waits, blocked, to be seen.
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGTERM);
        sigaddset(&stops, SIGINT);
        ::sigprocmask(SIG_BLOCK, &stops, nullptr);
        sigset_t pending;
        ::sigpending(&pending);
        const bool stopped = g_stop != 0 || sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGINT) == 1;
        if (stopped)
            ::kill(child, SIGTERM);
        ::_exit(n == 1 && !stopped ? 0 : 1);
    }
    ::close(ready[0]);
    if (::setsid() < 0 || ::chdir("/") != 0)
        return false;
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        return false;
    for (int fd = 0; fd <= 2; ++fd)
        ::dup2(null, fd);
    ::close(null);
    if (::listen(listenFd, 128) != 0)
        return false;
    const bool told = ::write(ready[1], "r", 1) == 1;
    ::close(ready[1]);
    return told;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1) {
        std::fprintf(stderr, "usage: %s (no arguments; CALLVANE_STORAGE names the storage directory)\n", argv[0]);
        return 2;
    }
    // Whatever the starter left open (the window's files and sockets) is not ours.
    ::close_range(3, ~0U, 0);

    control::storage::resolve();
    if (!takeInstanceLock(control::storage::daemonLockPath()))
        return 0;

    const std::string settingsPath = control::storage::deployedSettingsPath();
    if (::access(settingsPath.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "blacklist: cannot read %s (%s); using the defaults: white-list mode, "
                             "unknown callers let through, empty lists\n",
                     settingsPath.c_str(), std::strerror(errno));
    }
    control::SettingsStore store(settingsPath);
    const control::FirewallSettings settings = control::FirewallSettings::read(store);

    const int listenFd = bindTo(control::storage::daemonSocketPath());
    if (listenFd < 0)
        return 1;

    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);

    // Detached before the list is indexed (the slow part); early calls wait in the backlog.
    if (!detach(listenFd))
        return 1;
    const control::CallScreen screen(settings, control::CallScreen::regionFromEnvironment());
    CallServer server(listenFd, screen, control::storage::blockedCallsPath(), control::storage::blockedCallsLockPath());
    server.run(g_stop);
    return 0;
}
