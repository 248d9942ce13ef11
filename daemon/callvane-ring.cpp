// Simulates an incoming call: asks the running blocking daemon about NUMBER (none: a call
// without a number) and prints its answer. Exit status 0 allow, 1 block, 2 error.

#include "storage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc > 2 || (argc == 2 && std::strpbrk(argv[1], "\r\n") != nullptr)) {
        std::fprintf(stderr, "usage: callvane-ring [NUMBER]   (one number on one line; none for a withheld number)\n");
        return 2;
    }
    const std::string path = control::storage::daemonSocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        std::fprintf(stderr, "callvane-ring: socket path too long: %s\n", path.c_str());
        return 2;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "callvane-ring: no firewall daemon listens on %s (%s); is the firewall on?\n",
                     path.c_str(), std::strerror(errno));
        return 2;
    }
    const timeval timeout{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const std::string request = std::string(argc == 2 ? argv[1] : "") + "\n";
    std::string reply;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[64];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            reply.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!reply.empty() && reply.back() == '\n')
        reply.pop_back();
    if (reply != "block" && reply != "allow") {
        std::fprintf(stderr, "callvane-ring: the daemon gave no answer (the number may be too long or not text)\n");
        return 2;
    }
    std::printf("%s\n", reply.c_str());
    return reply == "block" ? 1 : 0;
}
