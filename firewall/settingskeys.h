#pragma once

#include <string>

// The groups, keys and values of the settings file, and the values' meaning. The window and
// the daemon both read them through these names.
namespace firewall::settings {

inline constexpr char kFileName[] = "Callvane.cfg";

inline constexpr char kCallvaneGroup[] = "Callvane";
inline constexpr char kLanguageKey[] = "Language";
inline constexpr char kFirewallKey[] = "Firewall";
inline constexpr char kBlockUnknownKey[] = "BlockUnknown";
// The daemon's alone; the window keeps it as it keeps any key it does not know.
inline constexpr char kAllowContactsKey[] = "AllowContacts";
// The daemon's too: how long the calls that matter get through (a whole number; "0" is off).
inline constexpr char kEmergencyCallBackKey[] = "EmergencyCallBack"; // minutes
inline constexpr char kRepeatedCallersKey[] = "RepeatedCallers"; // minutes
inline constexpr char kCallBacksKey[] = "CallBacks"; // days

inline constexpr char kBlacklistGroup[] = "Blacklist";
inline constexpr char kWhitelistGroup[] = "Whitelist";
inline constexpr char kNumKey[] = "Num";

inline constexpr char kBlacklistMode[] = "Blacklist";
inline constexpr char kWhitelistMode[] = "Whitelist";
inline constexpr char kYes[] = "Yes";
inline constexpr char kNo[] = "No";

// Exact, case-sensitive: every other value, a missing one included, is the other branch.
inline bool isBlacklistMode(const std::string &firewall)
{
    return firewall == kBlacklistMode;
}
inline bool blocksUnknown(const std::string &blockUnknown)
{
    return blockUnknown == kYes;
}
// Missing means yes.
inline bool allowsContacts(const std::string &allowContacts)
{
    return allowContacts != kNo;
}

} // namespace firewall::settings
