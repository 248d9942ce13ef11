#include "firewall/keycache.h"

#include "settingsstore/atomicfile.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <link.h>
#include <sys/stat.h>

namespace firewall::keycache {

namespace {

// Then, per entry: its length (4 bytes), its bytes, its key (8 bytes), in this machine's
// byte order; last the number of entries (8 bytes).
constexpr std::string_view kMagic = "callvane-keys 2 ";

std::string header(const std::string &region)
{
    return std::string(kMagic) + region + " " + library() + "\n";
}

template <typename T> bool take(std::string_view &from, T &value)
{
    if (from.size() < sizeof value)
        return false;
    from.copy(reinterpret_cast<char *>(&value), sizeof value);
    from.remove_prefix(sizeof value);
    return true;
}

template <typename T> void put(std::string &to, T value)
{
    to.append(reinterpret_cast<const char *>(&value), sizeof value);
}

} // namespace

std::string_view Keys::entry(size_t i) const
{
    std::uint32_t length = 0;
    std::memcpy(&length, m_bytes.data() + m_at[i], sizeof length);
    return std::string_view(m_bytes).substr(m_at[i] + sizeof length, length);
}

std::uint64_t Keys::key(size_t i) const
{
    const std::string_view text = entry(i);
    std::uint64_t key = 0;
    std::memcpy(&key, text.data() + text.size(), sizeof key);
    return key;
}

std::string serialize(const std::string &region, const std::vector<std::string> &entries,
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
    return text;
}

Keys parse(std::string bytes, const std::string &region)
{
    Keys keys;
    const std::string expected = header(region);
    // Entries are found by 32-bit offsets; no cache of a list is near 4 GiB.
    if (bytes.compare(0, expected.size(), expected) != 0 || bytes.size() > UINT32_MAX)
        return {};
    std::string_view rest = std::string_view(bytes).substr(expected.size());
    // The count at the end sizes the offsets, as far as the bytes can hold that many.
    std::uint64_t promised = 0;
    if (std::string_view end = rest.substr(rest.size() - std::min(rest.size(), sizeof promised)); take(end, promised))
        keys.m_at.reserve(std::min<std::uint64_t>(promised, rest.size() / (sizeof(std::uint32_t) + sizeof promised)));
    while (rest.size() > sizeof promised) {
        const auto at = static_cast<std::uint32_t>(rest.data() - bytes.data());
        std::uint32_t length = 0;
        if (!take(rest, length) || rest.size() < std::uint64_t(length) + sizeof promised)
            return {};
        rest.remove_prefix(length + sizeof promised);
        keys.m_at.push_back(at);
    }
    std::uint64_t written = 0;
    if (!take(rest, written) || written != keys.m_at.size() || !rest.empty())
        return {};
    keys.m_bytes = std::move(bytes);
    return keys;
}

Keys load(const std::string &path, const std::string &region)
{
    std::string bytes;
    if (!settingsstore::readFile(path, bytes))
        return {};
    return parse(std::move(bytes), region);
}

std::string regionOf(const std::string &path)
{
    std::string head;
    std::string why;
    const auto take = [&head](std::string_view piece) { head += piece; };
    settingsstore::readFileBounded(path, 64, false, take, why);
    const size_t end = head.find(' ', kMagic.size());
    return head.compare(0, kMagic.size(), kMagic) == 0 && end != std::string::npos
        ? head.substr(kMagic.size(), end - kMagic.size())
        : std::string();
}

std::vector<std::uint64_t> match(const Keys &keys, const std::vector<std::string> &list)
{
    // Open addressing over the saved entries, at most half full: no node to allocate for each.
    size_t size = 16;
    while (size < 2 * keys.size())
        size *= 2;
    constexpr std::uint32_t kFree = UINT32_MAX;
    std::vector<std::uint32_t> slots(size, kFree);
    const std::hash<std::string_view> hash;
    for (size_t k = 0; k < keys.size(); ++k) {
        size_t at = hash(keys.entry(k)) & (size - 1);
        while (slots[at] != kFree)
            at = (at + 1) & (size - 1);
        slots[at] = std::uint32_t(k);
    }
    std::vector<std::uint64_t> found(list.size(), kNotKept);
    for (size_t i = 0; i < list.size(); ++i) {
        for (size_t at = hash(list[i]) & (size - 1); slots[at] != kFree; at = (at + 1) & (size - 1)) {
            if (keys.entry(slots[at]) == list[i]) {
                found[i] = keys.key(slots[at]);
                break;
            }
        }
    }
    return found;
}

std::string library()
{
    std::string found = "unknown";
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *data) {
            const std::string_view name = info->dlpi_name;
            const auto base = name.rfind('/');
            struct stat st = {};
            if (name.find("libphonenumber.so", base == std::string_view::npos ? 0 : base) == std::string_view::npos
                || ::stat(info->dlpi_name, &st) != 0)
                return 0;
            *static_cast<std::string *>(data) = std::string(name.substr(base + 1)) + " " + std::to_string(st.st_size)
                + " " + std::to_string(st.st_mtim.tv_sec);
            return 1;
        },
        &found);
    return found;
}

bool save(const std::string &path, const std::string &region, const std::vector<std::string> &entries,
          const std::vector<std::uint64_t> &keys)
{
    // The list's numbers are the owner's business.
    return settingsstore::writeFileAtomically(path, serialize(region, entries, keys), settingsstore::Access::OwnerOnly);
}

} // namespace firewall::keycache
