#pragma once

#include "firewall/firewallsettings.h"
#include "firewall/keycache.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace firewall {

// Decides whether a call is blocked.
//
// A call without a number ("" or "unknown") is blocked exactly when unknown callers are
// blocked. Otherwise, in black-list mode a call is blocked when its number is on the black
// list, in white-list mode when it is not on the white list.
//
// Numbers are compared as phone numbers: written forms of the same number in the default
// region (national or international, with blanks, dashes, dots or brackets) match. Without a
// region, a leading "00" reads as "+", and a national form (digits, one trunk zero at most)
// and an international one with that national number match either way. A short code, a text
// that is no possible phone number, or one longer than kMaxNumberLength (no phone number is;
// it is not parsed) matches only the same text.
//
// An entry ending in "*" matches every number that begins with what comes before it, on the
// digits of the international form ("+34 905*", "0034 905*", and in region ES "905*", match
// 905 12 34 56; without a region, national forms as above), and every text that begins with
// it as written. "*" alone matches every caller with a number, "+*" every phone number.
//
// The active list is indexed once, so a decision costs one parse and a few binary searches;
// the index keeps a phone number in 8 bytes.
class CallScreen
{
public:
    static constexpr size_t kMaxNumberLength = 64;

    // `region`: two capital letters ("ES"), or empty for none (then only international forms parse).
    // `known` entries take their key from there instead of being parsed; `keys`, when given,
    // receives the key of each entry of the active list, in its order.
    CallScreen(const FirewallSettings &settings, std::string region, const keycache::Keys *known = nullptr,
               std::vector<std::uint64_t> *keys = nullptr);

    // A screen whose black list is `numbers`: blocks() says whether a number is one of them,
    // compared as list entries are (the owner's contacts).
    static CallScreen listing(std::vector<std::string> numbers, std::string region);

    bool blocks(std::string_view number) const;
    // The form under which a number is indexed and looked up.
    std::string key(std::string_view number) const;
    // The same as the index keeps it: the digits of a phone number's international form, or 0
    // for a text that is none (it matches only itself).
    std::uint64_t numberKey(std::string_view entry) const;

    // How many entries the constructor parsed (those `known` did not have).
    size_t parsed() const { return m_parsed; }

    static bool isUnknownCaller(std::string_view number);

private:
    bool listed(const std::string &key) const;
    // A prefix entry's keys: "=<text>", and "+<digits>" of its international form.
    void addPrefix(std::string_view body);
    // Without a region: the national forms of the caller (`key` its key) and of the entries.
    bool listedNationally(std::string_view caller, const std::string &key) const;

    // National forms, only without a region: digits without a trunk zero.
    struct NationalForms
    {
        std::vector<std::string> numbers; // sorted
        std::vector<std::string> prefixes; // sorted
        bool match(const std::string &digits) const;
    };

    std::string m_region;
    bool m_blacklistMode;
    bool m_blockUnknown;
    size_t m_parsed = 0;
    std::vector<std::uint64_t> m_numbers; // the digits of E.164 keys ("+" and no leading zero)
    std::vector<std::string> m_texts; // the other keys
    std::vector<std::string> m_prefixes; // prefixKey()s, sorted
    NationalForms m_nationalEntries; // of the entries written nationally: for every caller
    NationalForms m_nationalOfInternational; // of the international entries: for national callers
    bool m_everyNumber = false; // "*"
    bool m_everyPhoneNumber = false; // "+*"
};

} // namespace firewall
