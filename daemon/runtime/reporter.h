#pragma once

#include <set>
#include <string>
#include <utility>

// What keeps the daemon from doing its work.
enum class Fault {
    Settings, // the settings copy is damaged
    Log, // the blocked-call log cannot be written
    Lost, // blocked calls were dropped from the log
    Bus, // no system D-Bus
    Hangup, // the telephony service did not hang up (one cause per error name)
    Refused, // the telephony service refuses to list its calls (one cause per error name)
    Installed, // the package was removed
    Contacts, // a part of an address book cannot be read (one cause per file and reason)
    CallsPlaced, // the file of the calls placed is damaged or cannot be written
    Timer, // a timer cannot be set
};

// Tells the owner of each fault once while it lasts, not once per call. On stderr, and in the
// system log once the daemon has detached from the starter (its stderr may then lead nowhere).
class Reporter
{
public:
    void toSystemLog();
    // Said again only after resolved(fault); `detail` tells causes of one fault apart.
    void report(Fault fault, const std::string &message, const std::string &detail = {});
    // Every cause of `fault`, or the one `detail` names.
    void resolved(Fault fault);
    void resolved(Fault fault, const std::string &detail);
    // Not a fault: said once, as news.
    void inform(const std::string &message) const;
    // What stops the daemon, said once as it stops.
    void error(const std::string &message) const;

private:
    void say(int priority, const std::string &message) const;

    std::set<std::pair<Fault, std::string>> m_active;
    bool m_systemLog = false;
};
