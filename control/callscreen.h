#pragma once

#include "firewallsettings.h"

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
    CallScreen(const FirewallSettings &settings, const std::string &region);

    bool blocks(std::string_view number) const;
    // The form under which a number is indexed and looked up.
    std::string key(std::string_view number) const;

    static bool isUnknownCaller(std::string_view number);
    // CALLVANE_REGION when it holds two letters, else the country of the locale
    // (LC_ALL, LC_MESSAGES, LANG, the first one set), else empty.
    static std::string regionFromEnvironment();

private:
    std::string m_region;
    bool m_blacklistMode;
    bool m_blockUnknown;
    bool listed(const std::string &key) const;

    std::vector<std::uint64_t> m_numbers; // the digits of E.164 keys ("+" and no leading zero)
    std::vector<std::string> m_texts; // the other keys
};

} // namespace control
