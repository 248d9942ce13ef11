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

int listenOn(const std::string &path)
{
    sockaddr_un address{};
    if (!control::daemonsocket::address(path, address)) {
        std::fprintf(stderr, "blacklist: socket path too long: %s\n", path.c_str());
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // We hold the instance lock, so a socket file left here belongs to a daemon that died.
    ::unlink(path.c_str());
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, 128) != 0) {
        std::fprintf(stderr, "blacklist: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        return -1;
    }
    return fd;
}

bool detach()
{
    // Started in the background by a shell without job control (the window's "exec ...&"),
    // the daemon is no group leader and leaves its session without a fork: no exiting parent
    // shows in the process list while the window probes it. A group leader (started from a
    // terminal) forks first.
    if (::setsid() < 0) {
        const pid_t child = ::fork();
        if (child < 0)
            return false;
        if (child > 0)
            ::_exit(0);
        if (::setsid() < 0)
            return false;
    }
    if (::chdir("/") != 0)
        return false;
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        return false;
    for (int fd = 0; fd <= 2; ++fd)
        ::dup2(null, fd);
    ::close(null);
    return true;
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

    const int listenFd = listenOn(control::storage::daemonSocketPath());
    if (listenFd < 0)
        return 1;

    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);

    // Detached before the list is indexed (the slow part): the starter's probe, which runs
    // right after the start, then sees the daemon itself. Early calls wait in the backlog.
    if (!detach())
        return 1;
    const control::CallScreen screen(settings, control::CallScreen::regionFromEnvironment());
    CallServer server(listenFd, screen, control::storage::blockedCallsPath(), control::storage::blockedCallsLockPath());
    server.run(g_stop);
    return 0;
}
