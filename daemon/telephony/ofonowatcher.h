#pragma once

#include "daemon/telephony/callwatcher.h"
#include "firewall/region.h"

// The calls of oFono's modems (org.ofono).
class OfonoWatcher : public CallWatcher
{
public:
    OfonoWatcher(sd_event *loop, Blocks blocks, HungUp hungUp, Placed placed, Reporter &reporter);
    // The operator code (MCC and MNC) of the home network of the SIM in a modem of oFono's,
    // else of the network the modem is on; asked once on `bus`, each answer waited for at most `wait`; "" when none
    // is known.
    static firewall::Region::Network operatorCode(sd_bus *bus, std::chrono::milliseconds wait);

private:
    void appeared() override;
    void askCalls(const std::string &modemPath);
    // A call, `properties` at its a{sv}; false on a malformed message.
    bool found(const char *callPath, sd_bus_message *properties);

    static int onModems(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onCalls(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onCallAdded(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onPropertyChanged(sd_bus_message *message, void *self, sd_bus_error *error);
};
