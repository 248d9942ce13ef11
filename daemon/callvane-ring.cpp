// Simulates an incoming call: asks the running blocking daemon about NUMBER (none: a call
// without a number) and prints its answer. Exit status 0 allow, 1 block, 2 error.

#include "daemonsocket.h"
#include "storage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc > 2 || (argc == 2 && std::strpbrk(argv[1], "\r\n") != nullptr)) {
        std::fprintf(stderr, "usage: callvane-ring [NUMBER]   (one number on one line; none for a withheld number)\n");
        return 2;
    }
    const std::string path = control::storage::daemonSocketPath();
    const int fd = control::daemonsocket::connectTo(path);
    if (fd < 0) {
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
    if (reply != control::daemonsocket::kBlock && reply != control::daemonsocket::kAllow) {
        std::fprintf(stderr, "callvane-ring: the daemon gave no answer (the number may be too long or not text)\n");
        return 2;
    }
    std::printf("%s\n", reply.c_str());
    return reply == control::daemonsocket::kBlock ? 1 : 0;
}
