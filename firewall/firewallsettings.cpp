#include "firewall/firewallsettings.h"

#include "firewall/settingskeys.h"
#include "settingsstore/inidocument.h"
#include "settingsstore/numberlist.h"

namespace control {

FirewallSettings FirewallSettings::read(const IniDocument &document)
{
    using namespace settings;
    FirewallSettings result;
    result.blacklistMode = isBlacklistMode(document.value(kCallvaneGroup, kFirewallKey).value_or(""));
    result.blockUnknown = blocksUnknown(document.value(kCallvaneGroup, kBlockUnknownKey).value_or(""));
    result.allowContacts = allowsContacts(document.value(kCallvaneGroup, kAllowContactsKey).value_or(""));
    result.blacklist = splitList(document.valueView(kBlacklistGroup, kNumKey).value_or(""));
    result.whitelist = splitList(document.valueView(kWhitelistGroup, kNumKey).value_or(""));
    result.language = document.value(kCallvaneGroup, kLanguageKey).value_or("");
    return result;
}

} // namespace control
