#pragma once

#include "daemon/telephony/callwatcher.h"
#include "firewall/region.h"

#include <set>

// The calls of ModemManager's modems (org.freedesktop.ModemManager1). A call to an emergency
// number of a SIM's (read when ModemManager appears) is placed as an emergency call.
class ModemManagerWatcher : public CallWatcher
{
public:
    ModemManagerWatcher(sd_event *loop, Blocks blocks, HungUp hungUp, Placed placed, Reporter &reporter);
    // The operator code (MCC and MNC) of the home network of the SIM in a modem of
    // ModemManager's (a phone abroad reads its owner's numbers as its own country's), else of
    // the network the modem is on; asked once on `bus`, each answer waited for at most `wait`; "" when
    // none is known.
    static firewall::Region::Network operatorCode(sd_bus *bus, std::chrono::milliseconds wait);

private:
    void appeared() override;
    bool isEmergencyNumber(const std::string &number) const override
    {
        return m_simEmergencyNumbers.count(number) != 0;
    }
    void track(const std::string &callPath);

    static int onManagedObjects(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onPropertiesChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onProperties(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onSim(sd_bus_message *message, void *self, sd_bus_error *error);

    std::set<std::string> m_simEmergencyNumbers;
};
