// The daemon's peers in bench_daemon: servers of the daemon's socket protocol that do the least
// such a server can, one caller at a time.
//   peerserver allow SOCKET            answers "allow" to every line
//   peerserver hashset SOCKET SETTINGS loads the black list of SETTINGS into a hash set, then
//                                      answers "block" for a line in it, else "allow"
//   peerserver screen SOCKET SETTINGS  decides as the daemon does (control::CallScreen, region
//                                      CALLVANE_REGION), on the same blocking loop
// It runs until it is killed.

#include "control/atomicfile.h"
#include "control/callscreen.h"
#include "control/daemonsocket.h"
#include "control/firewallsettings.h"
#include "control/inidocument.h"
#include "control/numberlist.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_set>

namespace {

std::unordered_set<std::string> loadBlacklist(const char *settings)
{
    std::ifstream file(settings);
    std::stringstream text;
    text << file.rdbuf();
    const std::string content = text.str();
    const std::string key = "[Blacklist]\nNum = ";
    const size_t at = content.find(key);
    if (at == std::string::npos)
        return {};
    const size_t begin = at + key.size();
    const std::string_view value(content.data() + begin, content.find('\n', begin) - begin);
    const auto entries = control::splitListViews(value);
    std::unordered_set<std::string> set;
    set.reserve(entries.size());
    for (const std::string_view entry : entries)
        set.emplace(entry);
    return set;
}

std::optional<control::CallScreen> loadScreen(const char *settings)
{
    std::string text;
    if (!control::readFile(settings, text))
        return std::nullopt;
    const char *region = std::getenv("CALLVANE_REGION");
    return control::CallScreen(control::FirewallSettings::read(control::IniDocument::parse(text)),
                               region != nullptr ? region : "");
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
    std::optional<control::CallScreen> screen;
    if (mode == "hashset") {
        blocked = loadBlacklist(argv[3]);
        blocks = [&blocked](const std::string &line) { return blocked.count(line) != 0; };
    } else if (mode == "screen") {
        if (!(screen = loadScreen(argv[3]))) {
            std::perror(argv[3]);
            return 1;
        }
        blocks = [&screen](const std::string &line) { return screen->blocks(line); };
    }
    const int listening = control::daemonsocket::listenAt(argv[2]);
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
