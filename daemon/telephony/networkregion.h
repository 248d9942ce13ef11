#pragma once

#include "daemon/runtime/eventloop.h"
#include "firewall/region.h"
#include "settingsstore/uniquefd.h"

#include <functional>
#include <thread>

// The region of the mobile network (the SIM's home network's, else the network the phone is
// on), asked of ModemManager, else of oFono, on a thread beside the loop: a telephony service
// that does not answer holds no call meanwhile. `told` runs on the loop, once, with what they
// said (an empty code where neither did).
class NetworkRegion
{
public:
    // Each question waits at most this long (four at most, one after another).
    static constexpr std::chrono::milliseconds kWait{500};

    NetworkRegion(sd_event *loop, std::function<void(const firewall::Region &)> told);
    // Waits for the questions under way.
    ~NetworkRegion();
    NetworkRegion(const NetworkRegion &) = delete;
    NetworkRegion &operator=(const NetworkRegion &) = delete;

private:
    static firewall::Region ask();

    std::function<void(const firewall::Region &)> m_told;
    firewall::Region m_region; // written by the thread, read once it has said so
    settingsstore::UniqueFd m_done; // an eventfd the thread signals
    eventloop::Source m_doneSource;
    std::thread m_asker;
};
