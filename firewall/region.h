#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace firewall {

// The region in which the daemon reads numbers without a country code, with whence it came
// for the owner to read.
struct Region
{
    static constexpr char kProviders[] = "/usr/share/mobile-broadband-provider-info/serviceproviders.xml";
    // tzdata's table of one line per country (zone1970.tab leaves out countries whose zone
    // is a link, such as Europe/Stockholm).
    static constexpr char kZoneTable[] = "/usr/share/zoneinfo/zone.tab";

    // A mobile network's operator code (MCC and MNC, "21407"), and whether it is the SIM's home
    // network or the network the phone is on.
    struct Network
    {
        std::string code;
        bool home = false;
    };

    // Where the owner names the region, which nothing else then overrides.
    static constexpr char kVariable[] = "CALLVANE_REGION";

    std::string code; // "ES", or empty for none
    std::string whence;

    // CALLVANE_REGION when it holds two letters, else what `ofNetwork` gives (the mobile
    // network's), else the country of the locale (LC_ALL, LC_MESSAGES, LANG, the first one
    // set), else the country of the time zone (TZ, /etc/timezone or /etc/localtime) in
    // `zoneTable`.
    static Region fromEnvironment(const std::function<Region()> &ofNetwork = {},
                                  const std::string &zoneTable = kZoneTable);
    // The region of `network`, as `providers` (mobile-broadband-provider-info's list) has it;
    // an empty code for none.
    static Region ofNetwork(const Network &network, const std::string &providers = kProviders);
    // The country ("ES") of the network with `operatorCode` ("21407") in `providersXml`: that of
    // the network with the code, else of the first network with its MCC. "" when the code is
    // not 5 or 6 digits, no network has its MCC, or the list is not well-formed.
    static std::string countryOf(std::string_view providersXml, std::string_view operatorCode);
};

} // namespace firewall
