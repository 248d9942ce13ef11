#include "callscreen.h"

#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>

#include <cctype>
#include <cstdlib>

namespace control {

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

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

} // namespace

CallScreen::CallScreen(const FirewallSettings &settings, const std::string &region)
    : m_region(upper(region))
    , m_blacklistMode(settings.blacklistMode)
    , m_blockUnknown(settings.blockUnknown)
{
    const auto &list = m_blacklistMode ? settings.blacklist : settings.whitelist;
    m_index.reserve(list.size());
    for (const std::string &entry : list)
        m_index.insert(key(entry));
}

bool CallScreen::isUnknownCaller(std::string_view number)
{
    return number.empty() || number == "unknown";
}

std::string CallScreen::key(std::string_view number) const
{
    const PhoneNumberUtil &util = *PhoneNumberUtil::GetInstance();
    PhoneNumber parsed;
    const std::string region = m_region.empty() ? std::string("ZZ") : m_region;
    if (util.Parse(std::string(number), region, &parsed) == PhoneNumberUtil::NO_PARSING_ERROR
        && util.IsPossibleNumber(parsed)) {
        std::string e164;
        util.Format(parsed, PhoneNumberUtil::E164, &e164);
        return e164;
    }
    // Not a phone number: only the same text matches; "=" keeps it apart from "+..." keys.
    return "=" + std::string(number);
}

bool CallScreen::blocks(std::string_view number) const
{
    if (isUnknownCaller(number))
        return m_blockUnknown;
    const bool listed = m_index.count(key(number)) > 0;
    return m_blacklistMode ? listed : !listed;
}

std::string CallScreen::regionFromEnvironment()
{
    if (const char *region = std::getenv("CALLVANE_REGION"); region != nullptr && isRegion(region))
        return upper(region);
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return countryOfLocale(value);
    }
    return {};
}

} // namespace control
