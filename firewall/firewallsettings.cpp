#include "firewall/firewallsettings.h"

#include "firewall/settingskeys.h"
#include "settingsstore/inidocument.h"
#include "settingsstore/numberlist.h"

#include <charconv>

namespace firewall {

namespace {

// A whole number of `unit`s, or the default where the value is none (and it is said). Bounded
// to a year: no period is longer, and the sum with a time cannot overflow.
template <typename Duration>
void readPeriod(const settingsstore::IniDocument &document, const char *key, Duration &period,
                std::vector<std::string> &unreadable)
{
    const std::optional<std::string_view> text = document.valueView(settings::kCallvaneGroup, key);
    if (!text)
        return;
    long long value = -1;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    constexpr auto kYear = std::chrono::hours(366 * 24);
    if (error == std::errc() && end == text->data() + text->size() && value >= 0 && value <= kYear / Duration(1))
        period = Duration(value);
    else
        unreadable.push_back(std::string(key) + " = " + std::string(*text));
}

} // namespace

FirewallSettings FirewallSettings::read(const settingsstore::IniDocument &document)
{
    using namespace settings;
    FirewallSettings result;
    result.blacklistMode = isBlacklistMode(document.value(kCallvaneGroup, kFirewallKey).value_or(""));
    result.blockUnknown = blocksUnknown(document.value(kCallvaneGroup, kBlockUnknownKey).value_or(""));
    result.allowContacts = allowsContacts(document.value(kCallvaneGroup, kAllowContactsKey).value_or(""));
    result.blacklist = settingsstore::splitList(document.valueView(kBlacklistGroup, kNumKey).value_or(""));
    result.whitelist = settingsstore::splitList(document.valueView(kWhitelistGroup, kNumKey).value_or(""));
    result.language = document.value(kCallvaneGroup, kLanguageKey).value_or("");
    readPeriod(document, kEmergencyCallBackKey, result.emergencyCallBack, result.unreadable);
    readPeriod(document, kRepeatedCallersKey, result.repeatedCallers, result.unreadable);
    std::chrono::duration<long long, std::ratio<86400>> callBacks(30);
    readPeriod(document, kCallBacksKey, callBacks, result.unreadable);
    result.callBacks = callBacks;
    return result;
}

} // namespace firewall
