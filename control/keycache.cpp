#include "control/keycache.h"

#include "control/atomicfile.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <unordered_map>

namespace control::keycache {

namespace {

// Then, per entry: its length (4 bytes), its bytes, its key (8 bytes), in this machine's
// byte order; last the number of entries (8 bytes).
std::string header(const std::string &region)
{
    return "callvane-keys 1 " + region + "\n";
}

template <typename T> bool take(std::string_view &from, T &value)
{
    if (from.size() < sizeof value)
        return false;
    std::memcpy(&value, from.data(), sizeof value);
    from.remove_prefix(sizeof value);
    return true;
}

template <typename T> void put(std::string &to, T value)
{
    to.append(reinterpret_cast<const char *>(&value), sizeof value);
}

} // namespace

Keys load(const std::string &path, const std::string &region)
{
    Keys keys;
    if (!readFile(path, keys.file))
        return {};
    std::string_view rest = keys.file;
    const std::string expected = header(region);
    if (rest.substr(0, expected.size()) != expected)
        return {};
    rest.remove_prefix(expected.size());
    // The count at the end sizes the entries, as far as the bytes can hold that many.
    std::uint64_t promised = 0;
    if (std::string_view end = rest.substr(rest.size() - std::min(rest.size(), sizeof promised)); take(end, promised))
        keys.entries.reserve(
            std::min<std::uint64_t>(promised, rest.size() / (sizeof(std::uint32_t) + sizeof promised)));
    std::uint64_t count = 0;
    while (rest.size() > sizeof count) {
        std::uint32_t length = 0;
        std::uint64_t key = 0;
        if (!take(rest, length) || rest.size() < length)
            return {};
        const std::string_view entry = rest.substr(0, length);
        rest.remove_prefix(length);
        if (!take(rest, key))
            return {};
        keys.entries.emplace_back(entry, key);
        ++count;
    }
    std::uint64_t written = 0;
    if (!take(rest, written) || written != count || !rest.empty())
        return {};
    return keys;
}

std::vector<std::uint64_t> match(const Keys &keys, const std::vector<std::string> &list)
{
    const auto &saved = keys.entries;
    std::vector<std::uint64_t> found(list.size(), kNotKept);
    std::unordered_map<std::string_view, std::uint64_t> byEntry;
    bool inStep = true;
    size_t next = 0; // the saved entry in step with the list's
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string_view entry = list[i];
        if (inStep) {
            if (next >= saved.size())
                continue; // added at the end
            if (saved[next].first == entry) {
                found[i] = saved[next++].second;
                continue;
            }
            if (next + 1 < saved.size() && saved[next + 1].first == entry) {
                found[i] = saved[next + 1].second; // the one before was removed
                next += 2;
                continue;
            }
            if (i + 1 < list.size() && saved[next].first == list[i + 1])
                continue; // added here
            inStep = false;
            byEntry.reserve(saved.size());
            for (const auto &[text, key] : saved)
                byEntry.emplace(text, key);
        }
        if (const auto hit = byEntry.find(entry); hit != byEntry.end())
            found[i] = hit->second;
    }
    return found;
}

bool save(const std::string &path, const std::string &region, const std::vector<std::string> &entries,
          const std::vector<std::uint64_t> &keys)
{
    std::string text = header(region);
    size_t size = text.size() + sizeof(std::uint64_t);
    for (const std::string &entry : entries)
        size += sizeof(std::uint32_t) + entry.size() + sizeof(std::uint64_t);
    text.reserve(size);
    for (size_t i = 0; i < entries.size() && i < keys.size(); ++i) {
        put(text, static_cast<std::uint32_t>(entries[i].size()));
        text += entries[i];
        put(text, keys[i]);
    }
    put(text, static_cast<std::uint64_t>(std::min(entries.size(), keys.size())));
    // The list's numbers are the owner's business: a new file is made for the owner only
    // (a replace keeps the mode).
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    return writeFileAtomically(path, text);
}

} // namespace control::keycache
