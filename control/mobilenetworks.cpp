#include "control/mobilenetworks.h"

#include "control/atomicfile.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <memory>

namespace control::mobilenetworks {

namespace {

struct Search
{
    std::string mcc;
    std::string mnc;
    std::string country; // of the <country> element being read
    std::string ofNetwork;
    std::string ofMcc;
};

std::string_view attribute(const XML_Char **attributes, const char *name)
{
    for (; attributes[0] != nullptr; attributes += 2) {
        if (std::strcmp(attributes[0], name) == 0)
            return attributes[1];
    }
    return {};
}

void XMLCALL onStart(void *data, const XML_Char *name, const XML_Char **attributes)
{
    auto &search = *static_cast<Search *>(data);
    if (std::strcmp(name, "country") == 0) {
        search.country = attribute(attributes, "code");
    } else if (std::strcmp(name, "network-id") == 0 && attribute(attributes, "mcc") == search.mcc) {
        if (search.ofMcc.empty())
            search.ofMcc = search.country;
        if (search.ofNetwork.empty() && attribute(attributes, "mnc") == search.mnc)
            search.ofNetwork = search.country;
    }
}

} // namespace

std::string countryOf(std::string_view providersXml, std::string_view operatorCode)
{
    const bool digits = std::all_of(operatorCode.begin(), operatorCode.end(),
                                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
    if (!digits || operatorCode.size() < 5 || operatorCode.size() > 6 || providersXml.size() > INT_MAX)
        return {};
    Search search{std::string(operatorCode.substr(0, 3)), std::string(operatorCode.substr(3)), {}, {}, {}};
    const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate("UTF-8"),
                                                                              XML_ParserFree);
    if (!parser)
        return {};
    XML_SetUserData(parser.get(), &search);
    XML_SetStartElementHandler(parser.get(), onStart);
    if (XML_Parse(parser.get(), providersXml.data(), static_cast<int>(providersXml.size()), XML_TRUE) != XML_STATUS_OK)
        return {};
    std::string country = search.ofNetwork.empty() ? search.ofMcc : search.ofNetwork;
    for (char &c : country)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return country.size() == 2 ? country : std::string();
}

CallScreen::Region regionOf(const std::string &operatorCode, const std::string &providers)
{
    std::string xml;
    if (operatorCode.empty() || !readFile(providers, xml))
        return {};
    const std::string country = countryOf(xml, operatorCode);
    if (country.empty())
        return {};
    return {country, "the mobile network " + operatorCode + ", as ModemManager gives it"};
}

} // namespace control::mobilenetworks
