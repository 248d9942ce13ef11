#pragma once

#include "firewall/callerid.h"
#include "firewall/callscreen.h"
#include "firewall/exemptions.h"
#include "firewall/firewallsettings.h"

#include <functional>
#include <string_view>

namespace firewall {

// The whole rule a call is answered by: the lists' (CallScreen), then the owner's contacts,
// who ring through in white-list mode unless "AllowContacts" is "No", then the calls that get
// through whatever the lists say (Exemptions), whose period after an emergency call comes
// before all.
class BlockingRule
{
public:
    using IsContact = std::function<bool(std::string_view number)>;

    // Whether the contacts take part under `settings`: only then are they read.
    static bool contactsCount(const FirewallSettings &settings)
    {
        return !settings.blacklistMode && settings.allowContacts;
    }

    // `isContact`: whether a number is a contact's (never, where the contacts take no part).
    BlockingRule(const CallScreen &lists, IsContact isContact, Exemptions &exemptions)
        : m_lists(lists)
        , m_isContact(std::move(isContact))
        , m_exemptions(exemptions)
    {
    }

    bool blocks(const CallerId &caller, const Exemptions::Now &now) const
    {
        return !m_exemptions.suspended(now) && m_lists.blocks(caller.number()) && !m_isContact(caller.number())
            && !m_exemptions.letsThrough(caller, now);
    }

private:
    const CallScreen &m_lists;
    IsContact m_isContact;
    Exemptions &m_exemptions;
};

} // namespace firewall
