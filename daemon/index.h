#pragma once

#include "firewall/callscreen.h"
#include "firewall/firewallsettings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class Reporter;

// What the daemon screens with, made once at its start: the active list of its settings copy,
// indexed. Entries parsed at an earlier start are taken from the key cache, and what this
// start had to parse is kept there for the next one; an empty list leaves no cache.
class Index
{
public:
    // A settings copy that cannot be read gives nothing (said on stderr): made-up rules
    // (white-list mode with empty lists) would block every call. One that is damaged gives
    // what can be read, and the owner is told.
    static std::optional<firewall::FirewallSettings> readSettings(const std::string &path, Reporter &reporter);

    // Takes the lists of `settings` over.
    Index(firewall::FirewallSettings &settings, const std::string &region, std::string keyCachePath);
    // Waits for the key cache to be written.
    ~Index();
    Index(const Index &) = delete;
    Index &operator=(const Index &) = delete;

    // The screen is the same object after a reindex(): a reference to it stays good.
    const firewall::CallScreen &screen() const { return m_screen; }
    // Indexes `settings` anew in another region; before saveKeysInBackground().
    void reindex(firewall::FirewallSettings &settings, const std::string &region);
    // Writes (and syncs) the key cache, or removes it, on a thread beside the loop: no call
    // waits for it. Nothing where the cache holds the list as it is.
    void saveKeysInBackground();

private:
    struct KeysToSave
    {
        std::vector<std::string> entries;
        std::vector<std::uint64_t> keys;
    };
    static firewall::CallScreen indexed(firewall::FirewallSettings &settings, const std::string &region,
                                        const std::string &keyCachePath, std::optional<KeysToSave> &toSave);

    std::string m_region;
    std::string m_keyCachePath;
    std::optional<KeysToSave> m_toSave; // with no entries: the cache is removed
    firewall::CallScreen m_screen;
    std::thread m_saver;
};
