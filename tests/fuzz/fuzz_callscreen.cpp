// Any list and caller, in region ES: every entry matches itself (blocked in black-list mode,
// let through in white-list mode, a withheld one as the unknown-caller rule says); a screen
// built from the keys of an earlier one decides every call as one that parsed each entry.
// Input: the first byte picks the mode and the unknown-caller rule, then the list (entries
// joined by ';'), then after a NUL the caller.
#include "firewall/callscreen.h"
#include "firewall/keycache.h"
#include "settingsstore/numberlist.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    const auto nul = text.find('\0');
    const std::string_view caller = nul == std::string_view::npos ? std::string_view() : text.substr(nul + 1);

    firewall::FirewallSettings settings;
    settings.blacklistMode = (data[0] & 1) != 0;
    settings.blockUnknown = (data[0] & 2) != 0;
    (settings.blacklistMode ? settings.blacklist : settings.whitelist) = settingsstore::splitList(text.substr(0, nul));
    const std::vector<std::string> &entries = settings.blacklistMode ? settings.blacklist : settings.whitelist;

    std::vector<std::uint64_t> keys;
    const firewall::CallScreen parsed(settings, "ES", nullptr, &keys);
    if (keys.size() != entries.size())
        std::abort();
    const firewall::keycache::Keys known =
        firewall::keycache::parse(firewall::keycache::serialize("ES", entries, keys), "ES");
    const firewall::CallScreen cached(settings, "ES", &known);
    if (cached.parsed() != 0 || cached.blocks(caller) != parsed.blocks(caller))
        std::abort();

    for (const std::string &entry : entries) {
        const bool expected =
            firewall::CallScreen::isUnknownCaller(entry) ? settings.blockUnknown : settings.blacklistMode;
        if (parsed.blocks(entry) != expected)
            std::abort();
    }
    return 0;
}
