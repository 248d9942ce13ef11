#include "daemon/telephony/networkregion.h"

#include "daemon/runtime/bus.h"
#include "daemon/telephony/modemmanagerwatcher.h"
#include "daemon/telephony/ofonowatcher.h"

#include <sys/eventfd.h>
#include <system_error>

NetworkRegion::NetworkRegion(sd_event *loop, std::function<void(const firewall::Region &)> told)
    : m_told(std::move(told))
    , m_done(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (m_done.valid())
        m_doneSource = eventloop::io(loop, m_done.get(), [this] {
            eventfd_t count = 0;
            ::eventfd_read(m_done.get(), &count);
            m_asker.join();
            m_told(m_region);
        });
    if (!m_doneSource) {
        m_told(ask()); // nothing to hear a thread by: here and now
        return;
    }
    try {
        m_asker = std::thread([this] {
            m_region = ask();
            ::eventfd_write(m_done.get(), 1);
        });
    } catch (const std::system_error &) {
        m_told(ask()); // no thread to be had: here and now
    }
}

NetworkRegion::~NetworkRegion()
{
    if (m_asker.joinable())
        m_asker.join();
}

firewall::Region NetworkRegion::ask()
{
    // A phone runs one of the two.
    const bus::Bus bus = bus::system();
    const firewall::Region::Network network = ModemManagerWatcher::operatorCode(bus.get(), kWait);
    return firewall::Region::ofNetwork(network.code.empty() ? OfonoWatcher::operatorCode(bus.get(), kWait) : network);
}
