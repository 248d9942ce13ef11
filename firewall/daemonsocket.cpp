#include "firewall/daemonsocket.h"

#include "settingsstore/uniquefd.h"

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
// descriptor of its directory, as /proc/self/fd/N/<name>; `dir` then holds that descriptor,
// to be kept until bound or connected.
bool reachable(const std::string &path, sockaddr_un &out, settingsstore::UniqueFd &dir)
{
    if (address(path, out))
        return true;
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        errno = ENAMETOOLONG;
        return false;
    }
    dir.reset(::open(slash == 0 ? "/" : path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return false;
    if (!address("/proc/self/fd/" + std::to_string(dir.get()) + path.substr(slash), out)) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// Runs `act` on a new socket at `path`'s address; the socket, or -1 with errno kept.
template <typename Act> int withSocket(const std::string &path, int type, Act act)
{
    sockaddr_un at{};
    settingsstore::UniqueFd dir;
    if (!reachable(path, at, dir))
        return -1;
    settingsstore::UniqueFd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
    return fd.valid() && act(fd.get(), at) ? fd.release() : -1;
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
