#include "firewall/daemonlock.h"

#include <cstdlib>

namespace firewall::daemonlock {

std::string format(long pid, const std::string &path)
{
    return std::to_string(pid) + "\n" + path + "\n";
}

long pid(std::string_view text)
{
    return std::strtol(std::string(text.substr(0, text.find('\n'))).c_str(), nullptr, 10);
}

bool writtenFor(std::string_view text, const std::string &path)
{
    const size_t end = text.find('\n');
    return end == std::string_view::npos || end + 1 == text.size() || text.substr(end + 1) == path + "\n";
}

} // namespace firewall::daemonlock
