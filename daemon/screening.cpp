#include "daemon/screening.h"

#include "firewall/keycache.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <malloc.h>

namespace {

firewall::Region regionAtStart(const firewall::Storage &storage)
{
    firewall::Region region = firewall::Region::fromEnvironment();
    if (std::string last = firewall::keycache::regionOf(storage.keyCache());
        region.whence != firewall::Region::kVariable && !last.empty())
        return {last, "the last start"};
    return region;
}

// A wall-clock time as the owner reads it: the hour, and the day too when it is not today's.
std::string clockTime(std::chrono::seconds when)
{
    const std::time_t at = when.count();
    const std::time_t now = std::time(nullptr);
    std::tm local = {};
    std::tm today = {};
    char text[32] = "";
    if (::localtime_r(&at, &local) != nullptr && ::localtime_r(&now, &today) != nullptr)
        std::strftime(text, sizeof text,
                      local.tm_yday == today.tm_yday && local.tm_year == today.tm_year ? "%H:%M" : "%Y-%m-%d %H:%M",
                      &local);
    return text;
}

} // namespace

Screening::Screening(sd_event *loop, const firewall::Storage &storage, firewall::FirewallSettings &settings,
                     const char *languages, int listenFd, Reporter &reporter)
    : m_storage(storage)
    , m_reporter(reporter)
    , m_region(regionAtStart(storage))
    , m_exemptions(settings, m_region.code, storage.callsPlaced(), firewall::Exemptions::currentBoot(),
                   firewall::Exemptions::Now::current())
    , m_index(settings, m_region.code, storage.keyCache())
    , m_log(loop, storage.blockedCalls(), storage.blockedCallsLock(), reporter)
    , m_notifier(loop, firewall::BlockedNotice::ofLanguage(languages != nullptr ? languages : "", settings.language))
    , m_rule(
          m_index.screen(), [this](std::string_view number) { return m_contacts && m_contacts->has(number); },
          m_exemptions)
    , m_server(loop, listenFd, asBlocks(), asBlocked())
    , m_modemManager(loop, asBlocks(), asBlocked(), asPlaced(), reporter)
    , m_ofono(loop, asBlocks(), asBlocked(), asPlaced(), reporter)
{
    if (!m_exemptions.problem().empty())
        reporter.report(Fault::CallsPlaced, storage.callsPlaced() + ": " + m_exemptions.problem());
    if (const auto until = m_exemptions.suspendedUntil(firewall::Exemptions::Now::current()))
        saySuspended(*until); // still, after a restart
    if (firewall::BlockingRule::contactsCount(settings))
        m_contacts.emplace(loop, ContactBook::kpeopleDirectory(), m_region.code, reporter);
    settings = {};
    ::malloc_trim(0); // the settings text and the lists were many times the index
    if (m_region.whence == firewall::Region::kVariable)
        settle(m_region);
    else
        m_network.emplace(loop, [this](const firewall::Region &network) { settle(network); });
}

CallWatcher::Blocks Screening::asBlocks() const
{
    return [this](const firewall::CallerId &caller) {
        return m_rule.blocks(caller, firewall::Exemptions::Now::current());
    };
}

CallWatcher::HungUp Screening::asBlocked()
{
    return [this](const firewall::CallerId &caller) {
        m_log.add(caller);
        m_notifier.post(caller);
    };
}

CallWatcher::Placed Screening::asPlaced()
{
    return [this](const std::string &number, bool emergency) { placed(number, emergency); };
}

void Screening::placed(const std::string &number, bool emergency)
{
    const auto now = firewall::Exemptions::Now::current();
    const auto before = m_exemptions.suspendedUntil(now);
    if (m_exemptions.placed(number, emergency, now))
        m_reporter.resolved(Fault::CallsPlaced);
    else
        m_reporter.report(Fault::CallsPlaced,
                          "cannot write " + m_storage.callsPlaced() + " (" + std::strerror(errno)
                              + "): the calls placed are not kept past a restart");
    if (const auto until = m_exemptions.suspendedUntil(now); until && until != before) {
        saySuspended(*until);
        m_notifier.postSuspended(clockTime(*until));
    }
}

void Screening::saySuspended(std::chrono::seconds until)
{
    m_reporter.inform("an emergency call was placed: no call is blocked until " + clockTime(until));
}

// The region as it stands: the network's, else the owner's locale's or time zone's.
void Screening::settle(const firewall::Region &network)
{
    const firewall::Region found = network.code.empty() ? firewall::Region::fromEnvironment() : network;
    m_reporter.inform(found.code.empty() ? "no region is known: a national number matches the international ones of "
                                           "every country with that national number (set CALLVANE_REGION)"
                                         : "numbers without a country code are read as " + found.code + "'s (from "
                              + found.whence + ")");
    if (found.code != m_region.code) {
        if (std::optional<firewall::FirewallSettings> again =
                Index::readSettings(m_storage.deployedSettings(), m_reporter))
            m_index.reindex(*again, found.code);
        m_exemptions.setRegion(found.code);
        if (m_contacts)
            m_contacts->setRegion(found.code);
        ::malloc_trim(0);
    }
    m_region = found;
    m_index.saveKeysInBackground();
}
