#include "daemonsocket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace control::daemonsocket {

bool address(const std::string &path, sockaddr_un &out)
{
    out = {};
    out.sun_family = AF_UNIX;
    if (path.size() >= sizeof out.sun_path)
        return false;
    std::memcpy(out.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int listenAt(const std::string &path)
{
    sockaddr_un at{};
    if (!address(path, at)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    ::unlink(path.c_str());
    // The mode comes from the umask at bind(); no moment with the socket open to others.
    const mode_t umask = ::umask(077);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&at), sizeof at) == 0;
    ::umask(umask);
    if (!bound || ::listen(fd, SOMAXCONN) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int connectTo(const std::string &path)
{
    sockaddr_un to{};
    if (!address(path, to)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace control::daemonsocket
