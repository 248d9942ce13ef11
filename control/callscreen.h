#pragma once

#include "control/firewallsettings.h"
#include "control/keycache.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace control {

// Decides whether a call is blocked.
//
// A call without a number ("" or "unknown") is blocked exactly when unknown callers are
// blocked. Otherwise, in black-list mode a call is blocked when its number is on the black
// list, in white-list mode when it is not on the white list.
//
// Numbers are compared as phone numbers: written forms of the same number in the default
// region (national or international, with blanks, dashes, dots or brackets) match. A short
// code, or a text that is no possible phone number, matches only the same text exactly.
// The active list is indexed once, so a decision costs one parse and one binary search; the
// index keeps a phone number in 8 bytes.
class CallScreen
{
public:
    // `region`: two letters ("ES"), or empty for none (then only international forms parse).
    // `known` entries take their key from there instead of being parsed; `keys`, when given,
    // receives the key of each entry of the active list, in its order.
    CallScreen(const FirewallSettings &settings, const std::string &region, const keycache::Keys *known = nullptr,
               std::vector<std::uint64_t> *keys = nullptr);

    bool blocks(std::string_view number) const;
    // The form under which a number is indexed and looked up.
    std::string key(std::string_view number) const;
    // The same as the index keeps it: the digits of a phone number's international form, or 0
    // for a text that is none (it matches only itself).
    std::uint64_t numberKey(std::string_view entry) const;

    // How many entries the constructor parsed (those `known` did not have).
    size_t parsed() const { return m_parsed; }

    static bool isUnknownCaller(std::string_view number);
    // CALLVANE_REGION when it holds two letters, else the country of the locale
    // (LC_ALL, LC_MESSAGES, LANG, the first one set), else empty.
    static std::string regionFromEnvironment();

private:
    bool listed(const std::string &key) const;

    std::string m_region;
    bool m_blacklistMode;
    bool m_blockUnknown;
    size_t m_parsed = 0;
    std::vector<std::uint64_t> m_numbers; // the digits of E.164 keys ("+" and no leading zero)
    std::vector<std::string> m_texts; // the other keys
};

} // namespace control
