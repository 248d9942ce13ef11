#pragma once

#include "control/callscreen.h"

#include <string>
#include <string_view>

// The countries of mobile networks, from mobile-broadband-provider-info's list of providers.
namespace control::mobilenetworks {

inline constexpr char kProviders[] = "/usr/share/mobile-broadband-provider-info/serviceproviders.xml";

// The country ("ES") of the network whose operator code (its MCC and MNC, "21407") is given,
// as `providersXml` lists it: that of the network with the code, else of the first network
// with its MCC. "" when the code is not 5 or 6 digits, no network has its MCC, or the list is
// not well-formed.
std::string countryOf(std::string_view providersXml, std::string_view operatorCode);

// The region of the network the phone is on, with whence it came; an empty code for none.
CallScreen::Region regionOf(const std::string &operatorCode, const std::string &providers = kProviders);

} // namespace control::mobilenetworks
