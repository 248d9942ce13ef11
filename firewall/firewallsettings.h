#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace settingsstore {
class IniDocument;
}

namespace firewall {

// What the daemon acts on, read from a settings text the way the status tab reads it: a
// missing file or key is white-list mode, unknown callers let through, empty lists.
struct FirewallSettings
{
    bool blacklistMode = false;
    bool blockUnknown = false;
    bool allowContacts = true; // in white-list mode, the owner's contacts are let through
    std::vector<std::string> blacklist;
    std::vector<std::string> whitelist;
    std::string language; // the name of the window's language file
    // How long the calls that matter get through; zero is never.
    std::chrono::minutes emergencyCallBack{120}; // after an emergency call, every call
    std::chrono::minutes repeatedCallers{3}; // in white-list mode, a blocked caller calling again
    std::chrono::hours callBacks{30 * 24}; // in white-list mode, a number the owner called
    // "Key = value" of those whose value is no whole number (they keep the default).
    std::vector<std::string> unreadable;

    static FirewallSettings read(const settingsstore::IniDocument &document);
};

} // namespace firewall
