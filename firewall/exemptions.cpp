#include "firewall/exemptions.h"

#include "settingsstore/atomicfile.h"

#include <phonenumbers/shortnumberinfo.h>

#include <algorithm>
#include <ctime>
#include <sstream>

namespace firewall {

namespace {

using std::chrono::seconds;

constexpr char kHeader[] = "callvane-calls 1";
constexpr char kEmergency[] = "emergency";
constexpr char kCalled[] = "called";

seconds onClock(clockid_t clock)
{
    timespec now = {};
    ::clock_gettime(clock, &now);
    return seconds(now.tv_sec);
}

// The file's bytes, up to `limit`: false, with why, when there are none to read.
bool readBounded(const std::string &path, size_t limit, std::string &text, std::string &why)
{
    const auto take = [&text](std::string_view piece) { text += piece; };
    const settingsstore::ReadEnd end = settingsstore::readFileBounded(path, limit, false, take, why);
    if (end == settingsstore::ReadEnd::Cut)
        why = "larger than it can be: only its first " + std::to_string(limit >> 10) + " KiB read";
    if (end == settingsstore::ReadEnd::Missing)
        why.clear();
    return end == settingsstore::ReadEnd::Whole || end == settingsstore::ReadEnd::Cut;
}

} // namespace

Exemptions::Now Exemptions::Now::current()
{
    return {onClock(CLOCK_BOOTTIME), onClock(CLOCK_REALTIME)};
}

std::string Exemptions::currentBoot()
{
    std::string text;
    std::string why;
    readBounded("/proc/sys/kernel/random/boot_id", 64, text, why);
    return text.substr(0, text.find('\n'));
}

Exemptions::Exemptions(const FirewallSettings &settings, std::string region, std::string storePath, std::string boot,
                       const Now &now)
    : m_blacklistMode(settings.blacklistMode)
    , m_emergencyCallBack(settings.emergencyCallBack)
    , m_repeatedCallers(settings.repeatedCallers)
    , m_callBacks(settings.callBacks)
    , m_region(std::move(region))
    , m_storePath(std::move(storePath))
    , m_boot(std::move(boot))
    , m_keys(CallScreen::listing({}, m_region))
{
    std::string text;
    std::string why;
    const bool anotherBoot = readBounded(m_storePath, kMaxFileBytes, text, why) && read(text, now);
    if (m_emergencyAt && !suspended(now))
        m_emergencyAt.reset();
    // Another boot's period goes on on this boot's clock, or is over: a restart must not read the
    // wall clock for it again.
    if (anotherBoot && !save())
        m_problem = "cannot be written";
    if (!why.empty())
        m_problem = why + (m_problem.empty() ? "" : "; " + m_problem);
}

bool Exemptions::read(const std::string &text, const Now &now)
{
    bool anotherBoot = false;
    std::istringstream lines(text);
    std::string line;
    size_t damaged = 0;
    if (!std::getline(lines, line) || line != kHeader) {
        m_problem = "not a file of the calls placed: passed over";
        return false;
    }
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string kind;
        long long wall = 0;
        fields >> kind >> wall;
        std::string boot;
        long long bootAt = 0;
        std::string number;
        if (kind == kEmergency && fields >> boot >> bootAt && (fields >> std::ws).eof()) {
            m_emergencyAt = Now{seconds(bootAt), seconds(wall)};
            if (boot != m_boot) {
                // Another boot's: its wall-clock age, bounded by the period, is taken onto this boot's clock.
                const seconds age = std::clamp(now.wall - seconds(wall), seconds(0), m_emergencyCallBack);
                m_emergencyAt = Now{now.boot - age, now.wall - age};
                anotherBoot = true;
            }
        } else if (kind == kCalled && fields.get() == ' ' && std::getline(fields, number)
                   && CallerId(number).number() == number && !number.empty()) {
            m_calls.emplace_back(seconds(wall), number);
        } else {
            ++damaged;
        }
    }
    std::stable_sort(m_calls.begin(), m_calls.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    if (m_calls.size() > kMaxCalled)
        m_calls.erase(m_calls.begin(), m_calls.end() - kMaxCalled);
    if (damaged > 0)
        m_problem = std::to_string(damaged) + " damaged lines passed over";
    return anotherBoot;
}

std::string Exemptions::serialize() const
{
    std::string text = std::string(kHeader) + "\n";
    if (m_emergencyAt)
        text += std::string(kEmergency) + " " + std::to_string(m_emergencyAt->wall.count()) + " " + m_boot + " "
            + std::to_string(m_emergencyAt->boot.count()) + "\n";
    for (const auto &[wall, number] : m_calls)
        text += std::string(kCalled) + " " + std::to_string(wall.count()) + " " + number + "\n";
    return text;
}

bool Exemptions::save() const
{
    // Whom the owner called is the owner's business.
    return settingsstore::writeFileAtomically(m_storePath, serialize(), settingsstore::Access::OwnerOnly);
}

void Exemptions::setRegion(std::string region)
{
    m_region = std::move(region);
    m_keys = CallScreen::listing({}, m_region);
    m_called.reset();
    m_blocked.clear();
    m_blockedOrder.clear();
}

bool Exemptions::suspended(const Now &now) const
{
    return m_emergencyAt && now.boot >= m_emergencyAt->boot && now.boot < m_emergencyAt->boot + m_emergencyCallBack;
}

const CallScreen *Exemptions::called(const Now &now)
{
    if (m_called && now.wall < m_calledRunsOut)
        return m_called.get();
    const auto current = std::find_if(m_calls.begin(), m_calls.end(),
                                      [&](const auto &call) { return now.wall < call.first + m_callBacks; });
    std::vector<std::string> numbers;
    for (auto it = current; it != m_calls.end(); ++it)
        numbers.push_back(it->second);
    m_calledRunsOut = current == m_calls.end() ? seconds::max() : current->first + m_callBacks;
    m_called = std::make_unique<CallScreen>(CallScreen::listing(std::move(numbers), m_region));
    return m_called.get();
}

bool Exemptions::letsThrough(const CallerId &caller, const Now &now)
{
    if (m_blacklistMode || caller.withheld())
        return false;
    if (m_callBacks.count() > 0 && called(now)->blocks(caller.number()))
        return true;
    if (m_repeatedCallers.count() == 0)
        return false;
    while (!m_blockedOrder.empty()
           && (now.boot - m_blockedOrder.front().first >= m_repeatedCallers || m_blockedOrder.size() >= kMaxBlocked)) {
        const auto &[at, key] = m_blockedOrder.front();
        if (const auto found = m_blocked.find(key); found != m_blocked.end() && found->second == at)
            m_blocked.erase(found);
        m_blockedOrder.pop_front();
    }
    std::string key = m_keys.key(caller.number());
    if (const auto found = m_blocked.find(key);
        found != m_blocked.end() && now.boot - found->second < m_repeatedCallers)
        return true;
    m_blocked[key] = now.boot;
    m_blockedOrder.emplace_back(now.boot, std::move(key));
    return false;
}

bool Exemptions::isEmergencyNumber(const std::string &number) const
{
    if (number == "112" || number == "911")
        return true;
    if (m_region.empty())
        return false;
    // Its metadata is read when first needed: the owner's first call, not the daemon's start.
    static const i18n::phonenumbers::ShortNumberInfo info;
    return info.IsEmergencyNumber(number, m_region);
}

std::optional<seconds> Exemptions::suspendedUntil(const Now &now) const
{
    if (!m_emergencyAt)
        return std::nullopt;
    const seconds began = m_emergencyAt->boot;
    return suspended(now) ? std::optional(now.wall + began + m_emergencyCallBack - now.boot) : std::nullopt;
}

bool Exemptions::placed(std::string_view number, bool emergency, const Now &now)
{
    const std::string called = CallerId(number).number();
    if (called.empty())
        return true;
    if (emergency || isEmergencyNumber(called)) {
        if (m_emergencyCallBack.count() == 0)
            return true;
        m_emergencyAt = now;
    } else {
        if (m_callBacks.count() == 0)
            return true;
        m_calls.erase(
            std::remove_if(m_calls.begin(), m_calls.end(), [&](const auto &call) { return call.second == called; }),
            m_calls.end());
        if (m_calls.size() >= kMaxCalled)
            m_calls.erase(m_calls.begin());
        m_calls.emplace_back(now.wall, called);
        m_called.reset();
    }
    if (m_emergencyAt && !suspended(now))
        m_emergencyAt.reset();
    return save();
}

} // namespace firewall
