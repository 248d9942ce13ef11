#pragma once

#include "firewall/callerid.h"
#include "firewall/callscreen.h"
#include "firewall/firewallsettings.h"

#include <functional>
#include <string_view>

namespace control {

// The whole rule a call is answered by: the lists' (CallScreen), then the owner's contacts,
// who ring through in white-list mode unless "AllowContacts" is "0".
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
    BlockingRule(const CallScreen &lists, IsContact isContact)
        : m_lists(lists)
        , m_isContact(std::move(isContact))
    {
    }

    bool blocks(const CallerId &caller) const
    {
        return m_lists.blocks(caller.number()) && !m_isContact(caller.number());
    }

private:
    const CallScreen &m_lists;
    IsContact m_isContact;
};

} // namespace control
