#include "firewall/daemonsocket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace firewall::daemonsocket {

namespace {

bool address(const std::string &path, sockaddr_un &out)
{
    out = {};
    out.sun_family = AF_UNIX;
    if (path.size() >= sizeof out.sun_path)
        return false;
    std::memcpy(out.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A socket address holds at most 107 bytes of path. A longer one is reached through a
// descriptor of its directory, as /proc/self/fd/N/<name>; `dirFd` is then that descriptor,
// for the caller to close once bound or connected.
bool reachable(const std::string &path, sockaddr_un &out, int &dirFd)
{
    dirFd = -1;
    if (address(path, out))
        return true;
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        errno = ENAMETOOLONG;
        return false;
    }
    dirFd = ::open(slash == 0 ? "/" : path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    if (!address("/proc/self/fd/" + std::to_string(dirFd) + path.substr(slash), out)) {
        ::close(dirFd);
        dirFd = -1;
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// Runs `act` on a new socket at `path`'s address; the socket, or -1 with errno kept.
template <typename Act> int withSocket(const std::string &path, int type, Act act)
{
    sockaddr_un at{};
    int dirFd = -1;
    if (!reachable(path, at, dirFd))
        return -1;
    int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (fd >= 0 && !act(fd, at)) {
        const int error = errno;
        ::close(fd);
        fd = -1;
        errno = error;
    }
    if (dirFd >= 0) {
        const int error = errno;
        ::close(dirFd);
        errno = error;
    }
    return fd;
}

} // namespace

int listenAt(const std::string &path)
{
    return withSocket(path, SOCK_STREAM | SOCK_NONBLOCK, [&path](int fd, const sockaddr_un &at) {
        ::unlink(path.c_str());
        // The mode comes from the umask at bind(); no moment with the socket open to others.
        const mode_t umask = ::umask(077);
        const bool bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&at), sizeof at) == 0;
        ::umask(umask);
        return bound && ::listen(fd, SOMAXCONN) == 0;
    });
}

int connectTo(const std::string &path)
{
    return withSocket(path, SOCK_STREAM, [](int fd, const sockaddr_un &at) {
        return ::connect(fd, reinterpret_cast<const sockaddr *>(&at), sizeof at) == 0;
    });
}

} // namespace firewall::daemonsocket
