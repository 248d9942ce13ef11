#pragma once

#include "firewall/callerid.h"
#include "firewall/callscreen.h"
#include "firewall/firewallsettings.h"

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace firewall {

// The calls that get through whatever the lists say, each for a period of the settings (zero
// turns it off):
// - every call, for emergencyCallBack after the owner placed a call to an emergency number
//   (112, 911, the region's, or one the telephony service marks as such), in both modes;
// - in white-list mode, a number the owner called within callBacks, compared as list entries
//   are;
// - in white-list mode, a caller with a number who calls again within repeatedCallers of a call
//   of theirs that was blocked.
// The emergency period and the numbers called are kept in a file of the storage, written
// atomically for the owner only, and so outlive a restart and a reboot. Within a boot the
// period runs on the boot clock (which counts suspend and ignores the clock being set); across
// a reboot the wall clock serves, and no period lasts longer than its length from there. The
// file holds at most kMaxCalled numbers (the oldest go first) and is read up to kMaxFileBytes;
// what cannot be read of it is passed over and said by problem(). The blocked callers are kept
// in memory, at most kMaxBlocked.
class Exemptions
{
public:
    static constexpr size_t kMaxCalled = 1000;
    static constexpr size_t kMaxBlocked = 1000;
    static constexpr size_t kMaxFileBytes = 256 << 10;

    // A moment, on both clocks, in seconds.
    struct Now
    {
        std::chrono::seconds boot; // CLOCK_BOOTTIME
        std::chrono::seconds wall; // since the epoch
        static Now current();
    };
    // The kernel's name of this boot.
    static std::string currentBoot();

    // Reads the file at `storePath` (none is no problem).
    Exemptions(const FirewallSettings &settings, std::string region, std::string storePath, std::string boot,
               const Now &now);

    // What was wrong with the file; empty when nothing was.
    const std::string &problem() const { return m_problem; }
    // Whether every call gets through now.
    bool suspended(const Now &now) const;
    // For a caller the lists block: whether the caller gets through all the same. One who does
    // not is remembered as blocked.
    bool letsThrough(const CallerId &caller, const Now &now);
    // While every call gets through, until when, on the wall clock.
    std::optional<std::chrono::seconds> suspendedUntil(const Now &now) const;
    // The owner placed a call to `number`; `emergency` where the telephony service says it is an
    // emergency call. Kept in the file (false when it cannot be written).
    bool placed(std::string_view number, bool emergency, const Now &now);

    // Numbers are read in `region` from now on; the callers blocked before are forgotten.
    void setRegion(std::string region);

    // The file's text, as it is written.
    std::string serialize() const;

private:
    // True when it holds an emergency period of another boot.
    bool read(const std::string &text, const Now &now);
    // The numbers called within callBacks, indexed anew when one has run out since.
    const CallScreen *called(const Now &now);
    bool isEmergencyNumber(const std::string &number) const;
    bool save() const;

    bool m_blacklistMode;
    std::chrono::seconds m_emergencyCallBack;
    std::chrono::seconds m_repeatedCallers;
    std::chrono::seconds m_callBacks;
    std::string m_region;
    std::string m_storePath;
    std::string m_boot;
    std::string m_problem;
    // The emergency call: when it was placed, on the wall clock and on this boot's clock.
    std::optional<Now> m_emergencyAt;
    std::vector<std::pair<std::chrono::seconds, std::string>> m_calls; // (wall time, number), oldest first
    std::unique_ptr<CallScreen> m_called; // of m_calls, made when first needed
    std::chrono::seconds m_calledRunsOut{}; // of the oldest in m_called
    CallScreen m_keys; // of nothing: the key of a number
    std::unordered_map<std::string, std::chrono::seconds> m_blocked; // key, boot time of the blocked call
    std::deque<std::pair<std::chrono::seconds, std::string>> m_blockedOrder; // as they came
};

} // namespace firewall
