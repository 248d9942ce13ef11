#include "firewall/region.h"

#include "settingsstore/atomicfile.h"
#include "settingsstore/numberlist.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace firewall {

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

bool isRegion(std::string_view s)
{
    return s.size() == 2 && std::isalpha(static_cast<unsigned char>(s[0])) != 0
        && std::isalpha(static_cast<unsigned char>(s[1])) != 0;
}

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// "es_ES.UTF-8" -> "ES"; "C", "POSIX" and the like -> "".
std::string countryOfLocale(std::string_view locale)
{
    const auto underscore = locale.find('_');
    if (underscore == std::string_view::npos)
        return {};
    const std::string_view country = locale.substr(underscore + 1, 2);
    return isRegion(country) ? upper(country) : std::string();
}

// "Europe/Madrid", from TZ, /etc/timezone or the link /etc/localtime; empty when unknown.
std::string timeZone()
{
    std::string zone;
    if (const char *tz = std::getenv("TZ"); tz != nullptr)
        zone = tz[0] == ':' ? tz + 1 : tz;
    else if (settingsstore::readFile("/etc/timezone", zone))
        zone = zone.substr(0, zone.find('\n'));
    else if (char link[256] = {}; ::readlink("/etc/localtime", link, sizeof link - 1) > 0)
        zone = link;
    if (const auto at = zone.find("zoneinfo/"); at != std::string::npos)
        zone.erase(0, at + 9);
    return zone;
}

} // namespace

std::string Region::countryOf(std::string_view providersXml, std::string_view operatorCode)
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
    const std::string &country = search.ofNetwork.empty() ? search.ofMcc : search.ofNetwork;
    return country.size() == 2 ? upper(country) : std::string();
}

Region Region::ofNetwork(const Network &network, const std::string &providers)
{
    std::string xml;
    if (network.code.empty() || !settingsstore::readFile(providers, xml))
        return {};
    const std::string country = countryOf(xml, network.code);
    if (country.empty())
        return {};
    return {country,
            (network.home ? "the SIM's home network " : "the mobile network the phone is on, ") + network.code};
}

Region Region::fromEnvironment(const std::function<Region()> &ofNetwork, const std::string &zoneTable)
{
    if (const char *region = std::getenv(kVariable); region != nullptr && isRegion(region))
        return {upper(region), kVariable};
    if (ofNetwork) {
        if (Region network = ofNetwork(); !network.code.empty())
            return network;
    }
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(variable);
        if (value == nullptr || *value == '\0')
            continue;
        if (std::string country = countryOfLocale(value); !country.empty())
            return {country, std::string("the locale ") + variable + "=" + value};
        break; // the locale in force names no country ("C.UTF-8")
    }
    const std::string zone = timeZone();
    std::string table;
    if (zone.empty() || !settingsstore::readFile(zoneTable, table))
        return {};
    // Lines "ES<tab>+4024-00341<tab>Europe/Madrid<tab>...": each zone with its country.
    for (const std::string &line : settingsstore::splitList(table, '\n')) {
        const std::vector<std::string> fields = settingsstore::splitList(line, '\t');
        if (fields.size() >= 3 && fields[2] == zone && isRegion(fields[0].substr(0, 2)))
            return {upper(fields[0].substr(0, 2)), "the time zone " + zone};
    }
    return {};
}

} // namespace firewall
