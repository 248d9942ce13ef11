#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What the daemon learnt parsing its number list, kept in the storage directory for its next
// start: each entry's key (CallScreen::numberKey). A restart after a list edit then parses
// only the entries that are new, instead of every entry with the phone-number library.
//
// The file holds the region it was made for; one that is missing, damaged, or made for
// another region or format reads as empty, and everything is parsed as without it.
namespace control::keycache {

struct Keys
{
    std::string file; // the file's bytes: `byEntry` points into them
    std::unordered_map<std::string_view, std::uint64_t> byEntry;
};

Keys load(const std::string &path, const std::string &region);
// `keys[i]` is the key of `entries[i]`. Written atomically, for the owner only.
bool save(const std::string &path, const std::string &region, const std::vector<std::string> &entries,
          const std::vector<std::uint64_t> &keys);

} // namespace control::keycache
