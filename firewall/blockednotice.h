#pragma once

#include <string>
#include <string_view>

namespace firewall {

class CallerId;

// The words of the daemon's desktop notices, from a language file (group CALLVANE): for a
// blocked call NOTICE_BLOCKED, where "%1" stands for the caller, and UNKNOWN_NUMBER for a
// withheld one; after an emergency call NOTICE_SUSPENDED, "%1" its end. English where the file
// or one of its texts is missing.
class BlockedNotice
{
public:
    // Where the daemon finds the window's language files: set by the window for the daemons
    // it starts.
    static constexpr char kLanguagesVariable[] = "CALLVANE_LANGUAGES";

    BlockedNotice() = default;
    explicit BlockedNotice(const std::string &languageFile);
    // The file of the settings' "Language" in `languagesDir` (CALLVANE_LANGUAGES); English
    // without either, or for a name that is not a file name there.
    static BlockedNotice ofLanguage(const std::string &languagesDir, const std::string &language);

    // "Blocked call from 600112233"; "Blocked call from Withheld number".
    std::string summary(const CallerId &caller) const;
    // "An emergency call: no call is blocked until 14:05".
    std::string suspended(const std::string &until) const;

private:
    std::string m_blocked = "Blocked call from %1";
    std::string m_withheld = "Withheld number";
    std::string m_suspended = "An emergency call: no call is blocked until %1";
};

} // namespace firewall
