#include "firewall/commandline.h"
#include "firewall/daemonsocket.h"
#include "firewall/storage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr char kUsage[] = R"(Usage: callvane-ring [--help] [--version] [--] [NUMBER]

Simulates an incoming call: asks the running Callvane daemon about NUMBER (none: a call
without a number) and prints its answer, "block" or "allow". A blocked call is logged.

Exit status: 0 allow, 1 block, 2 error (no daemon, no answer, bad arguments).

Environment:
  CALLVANE_STORAGE  the storage directory of the daemon (default /ezxlocal/download/mystuff/)
)";

} // namespace

int main(int argc, char **argv)
{
    const auto options = firewall::commandline::parse(argc, argv, "callvane-ring", kUsage);
    if (options.exitStatus)
        return *options.exitStatus;
    const int operands = argc - options.firstOperand;
    const char *number = operands == 1 ? argv[options.firstOperand] : "";
    if (operands > 1 || std::strpbrk(number, "\r\n") != nullptr) {
        std::fprintf(stderr,
                     "callvane-ring: one number on one line, or none for a withheld number\n"
                     "Try 'callvane-ring --help'.\n");
        return 2;
    }
    const std::string path = firewall::Storage::fromEnvironment().daemonSocket();
    const int fd = firewall::daemonsocket::connectTo(path);
    if (fd < 0) {
        std::fprintf(stderr, "callvane-ring: no firewall daemon listens on %s (%s); is the firewall on?\n",
                     path.c_str(), std::strerror(errno));
        return 2;
    }
    const timeval timeout{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const std::string request = std::string(number) + "\n";
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
    if (reply != firewall::daemonsocket::kBlock && reply != firewall::daemonsocket::kAllow) {
        std::fprintf(stderr, "callvane-ring: the daemon gave no answer (the number may be too long or not text)\n");
        return 2;
    }
    std::printf("%s\n", reply.c_str());
    return reply == firewall::daemonsocket::kBlock ? 1 : 0;
}
