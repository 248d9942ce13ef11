#include "firewallsettings.h"

#include "numberlist.h"
#include "settingskeys.h"
#include "settingsstore.h"

namespace control {

FirewallSettings FirewallSettings::read(SettingsStore &store)
{
    using namespace settings;
    FirewallSettings result;
    result.blacklistMode = isBlacklistMode(store.value(kCallvaneGroup, kFirewallKey, ""));
    result.blockUnknown = blocksUnknown(store.value(kCallvaneGroup, kBlockUnknownKey, ""));
    result.blacklist = splitList(store.value(kBlacklistGroup, kNumKey, ""));
    result.whitelist = splitList(store.value(kWhitelistGroup, kNumKey, ""));
    return result;
}

} // namespace control
