// The daemon's peers in bench_daemon: servers of the daemon's socket protocol that do the least
// such a server can, one caller at a time.
//   peerserver allow SOCKET            answers "allow" to every line
//   peerserver hashset SOCKET SETTINGS loads the black list of SETTINGS into a hash set, then
//                                      answers "block" for a line in it, else "allow"
//   peerserver screen SOCKET SETTINGS  decides as the daemon does (firewall::CallScreen, region
//                                      CALLVANE_REGION), on the same blocking loop
// It runs until it is killed.

#include "firewall/callscreen.h"
#include "firewall/daemonsocket.h"
#include "firewall/firewallsettings.h"
#include "settingsstore/atomicfile.h"
#include "settingsstore/inidocument.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_set>

namespace {

// Read as the daemon reads it; what each peer does with it is its own.
std::optional<firewall::FirewallSettings> readSettings(const char *path)
{
    std::string text;
    if (!settingsstore::readFile(path, text))
        return std::nullopt;
    return firewall::FirewallSettings::read(settingsstore::IniDocument::parse(text));
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc >= 3 ? argv[1] : "";
    if (!(argc == 3 && mode == "allow") && !(argc == 4 && (mode == "hashset" || mode == "screen"))) {
        std::fprintf(stderr, "usage: peerserver allow SOCKET | peerserver hashset|screen SOCKET SETTINGS\n");
        return 2;
    }
    std::function<bool(const std::string &)> blocks = [](const std::string &) { return false; };
    std::unordered_set<std::string> blocked;
    std::optional<firewall::CallScreen> screen;
    if (mode != "allow") {
        const std::optional<firewall::FirewallSettings> settings = readSettings(argv[3]);
        if (!settings) {
            std::perror(argv[3]);
            return 1;
        }
        if (mode == "hashset") {
            blocked = {settings->blacklist.begin(), settings->blacklist.end()};
            blocks = [&blocked](const std::string &line) { return blocked.count(line) != 0; };
        } else {
            const char *region = std::getenv("CALLVANE_REGION");
            screen.emplace(*settings, region != nullptr ? region : "");
            blocks = [&screen](const std::string &line) { return screen->blocks(line); };
        }
    }
    const int listening = firewall::daemonsocket::listenAt(argv[2]);
    if (listening < 0 || ::fcntl(listening, F_SETFL, 0) != 0) {
        std::perror("peerserver");
        return 1;
    }
    std::string line;
    for (;;) {
        const int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        line.clear();
        char chunk[256];
        ssize_t n = 0;
        while (line.find('\n') == std::string::npos && (n = ::read(fd, chunk, sizeof chunk)) > 0)
            line.append(chunk, size_t(n));
        const size_t end = line.find('\n');
        if (end != std::string::npos) {
            line.resize(end);
            const char *reply = blocks(line) ? "block\n" : "allow\n";
            [[maybe_unused]] const ssize_t written = ::send(fd, reply, 6, MSG_NOSIGNAL);
        }
        ::close(fd);
    }
}
