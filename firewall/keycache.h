#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the daemon learnt parsing its number list, kept in the storage directory for its next
// start: each entry's key (CallScreen::numberKey). A restart after a list edit then parses
// only the entries that are new, instead of every entry with the phone-number library: at
// 100,000 numbers it answers its first call after 31 ms, against 301 ms without the cache
// (bench_daemon, BM_Startup).
//
// The file holds the region and the phone-number library it was made with; one that is
// missing, damaged, or made with another region, library or format reads as empty, and
// everything is parsed as without it.
namespace firewall::keycache {

// The entries of a cache file, read where they stand in its bytes.
class Keys
{
public:
    size_t size() const { return m_at.size(); }
    std::string_view entry(size_t i) const;
    std::uint64_t key(size_t i) const;

private:
    friend Keys parse(std::string bytes, const std::string &region);
    std::string m_bytes;
    std::vector<std::uint32_t> m_at; // where each entry's length stands
};

// The bytes of a cache file, and back; bytes that are none read as no entries.
std::string serialize(const std::string &region, const std::vector<std::string> &entries,
                      const std::vector<std::uint64_t> &keys);
Keys parse(std::string bytes, const std::string &region);

Keys load(const std::string &path, const std::string &region);
// The region the cache at `path` was made with: the daemon's region at its last start. Empty
// where there is none.
std::string regionOf(const std::string &path);
// Marks an entry that `keys` holds no key for (no key is: it has at most 15 digits).
inline constexpr std::uint64_t kNotKept = ~std::uint64_t(0);
// The key `keys` holds for each entry of `list`, or kNotKept.
std::vector<std::uint64_t> match(const Keys &keys, const std::vector<std::string> &list);
// The phone-number library in use (its file, size and time), whose metadata made the keys:
// an upgrade changes it.
std::string library();
// `keys[i]` is the key of `entries[i]`. Written atomically, for the owner only.
bool save(const std::string &path, const std::string &region, const std::vector<std::string> &entries,
          const std::vector<std::uint64_t> &keys);

} // namespace firewall::keycache
