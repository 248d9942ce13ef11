#pragma once

#include <string>
#include <vector>

namespace control {

class IniDocument;

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

    static FirewallSettings read(const IniDocument &document);
};

} // namespace control
