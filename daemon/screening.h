#pragma once

#include "daemon/contacts/contactbook.h"
#include "daemon/index.h"
#include "daemon/logqueue.h"
#include "daemon/notifier.h"
#include "daemon/runtime/reporter.h"
#include "daemon/socketserver.h"
#include "daemon/telephony/modemmanagerwatcher.h"
#include "daemon/telephony/networkregion.h"
#include "daemon/telephony/ofonowatcher.h"
#include "firewall/blockingrule.h"
#include "firewall/exemptions.h"
#include "firewall/region.h"
#include "firewall/storage.h"

#include <chrono>
#include <optional>

// The daemon at work, on `loop`. Its parts are members in the order they need each other, and
// go in the reverse: the socket and the watchers first. Calls are answered from the first turn
// of the loop; the region of the mobile network follows.
class Screening
{
public:
    // `settings` are the deployed copy's, emptied once indexed; `languages` the window's
    // language files (for the notices), `listenFd` the socket that listens.
    Screening(sd_event *loop, const firewall::Storage &storage, firewall::FirewallSettings &settings,
              const char *languages, int listenFd, Reporter &reporter);
    Screening(const Screening &) = delete;
    Screening &operator=(const Screening &) = delete;

    // Writes what waits to be logged, for at most `wait`.
    void finish(std::chrono::milliseconds wait) { m_log.flush(wait); }

private:
    // What the socket and the watchers are told to do: decide, log a blocked call, note a call
    // placed.
    CallWatcher::Blocks asBlocks() const;
    CallWatcher::HungUp asBlocked();
    CallWatcher::Placed asPlaced();
    void placed(const std::string &number, bool emergency);
    void saySuspended(std::chrono::seconds until);
    void settle(const firewall::Region &network);

    const firewall::Storage &m_storage;
    Reporter &m_reporter;
    // Numbers are read in the region of the last start (its key cache's) until the mobile
    // network tells: a telephony service that does not answer holds no call. CALLVANE_REGION is
    // final.
    firewall::Region m_region;
    firewall::Exemptions m_exemptions;
    Index m_index;
    LogQueue m_log;
    Notifier m_notifier;
    std::optional<ContactBook> m_contacts; // where they take part
    firewall::BlockingRule m_rule;
    // Made before the socket, it is gone after it: a question under way holds no caller.
    std::optional<NetworkRegion> m_network;
    SocketServer m_server;
    ModemManagerWatcher m_modemManager;
    OfonoWatcher m_ofono;
};
