#include "control/callscreen.h"

#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <thread>

namespace control {

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

// Below this many entries to parse, threads cost more than they save.
constexpr size_t kParallelFrom = 2000;

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

// "+34600112233" -> 34600112233. E.164 has at most 15 digits and a country code never starts
// with 0, so the value keeps every digit.
std::optional<std::uint64_t> e164Digits(std::string_view key)
{
    if (key.size() < 2 || key.size() > 16 || key[0] != '+' || key[1] == '0')
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : key.substr(1)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

} // namespace

CallScreen::CallScreen(const FirewallSettings &settings, const std::string &region, const keycache::Keys *known,
                       std::vector<std::uint64_t> *keys)
    : m_region(upper(region))
    , m_blacklistMode(settings.blacklistMode)
    , m_blockUnknown(settings.blockUnknown)
{
    const auto &list = m_blacklistMode ? settings.blacklist : settings.whitelist;
    m_numbers.reserve(list.size());
    const auto knownKey = [known](const std::string &entry) -> std::optional<std::uint64_t> {
        if (known == nullptr)
            return std::nullopt;
        const auto found = known->byEntry.find(entry);
        return found == known->byEntry.end() ? std::nullopt : std::optional<std::uint64_t>(found->second);
    };
    std::vector<std::uint64_t> listKeys(list.size());
    std::vector<size_t> unknown;
    for (size_t i = 0; i < list.size(); ++i) {
        if (const auto cached = knownKey(list[i]))
            listKeys[i] = *cached;
        else
            unknown.push_back(i);
    }
    m_parsed = unknown.size();
    // A first start with a long list spends nearly all its time here: on every CPU.
    const size_t workers =
        unknown.size() < kParallelFrom ? 1 : std::max<size_t>(1, std::thread::hardware_concurrency());
    const size_t share = (unknown.size() + workers - 1) / workers;
    const auto parse = [&](size_t first) {
        for (size_t j = first; j < std::min(first + share, unknown.size()); ++j)
            listKeys[unknown[j]] = numberKey(list[unknown[j]]);
    };
    std::vector<std::thread> threads;
    for (size_t w = 1; w < workers; ++w) {
        try {
            threads.emplace_back(parse, w * share);
        } catch (const std::system_error &) {
            parse(w * share); // no thread to be had: this one does it
        }
    }
    parse(0);
    for (std::thread &thread : threads)
        thread.join();

    for (size_t i = 0; i < list.size(); ++i) {
        if (listKeys[i] != 0)
            m_numbers.push_back(listKeys[i]);
        else
            m_texts.push_back("=" + list[i]);
    }
    if (keys != nullptr)
        *keys = std::move(listKeys);
    std::sort(m_numbers.begin(), m_numbers.end());
    std::sort(m_texts.begin(), m_texts.end());
    m_numbers.shrink_to_fit();
}

std::uint64_t CallScreen::numberKey(std::string_view entry) const
{
    return e164Digits(key(entry)).value_or(0);
}

bool CallScreen::listed(const std::string &key) const
{
    if (const auto digits = e164Digits(key))
        return std::binary_search(m_numbers.begin(), m_numbers.end(), *digits);
    return std::binary_search(m_texts.begin(), m_texts.end(), key);
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
        if (e164Digits(e164))
            return e164;
    }
    // Not a phone number (or one the index cannot keep in 8 bytes): only the same text
    // matches; "=" keeps it apart from "+..." keys.
    return "=" + std::string(number);
}

bool CallScreen::blocks(std::string_view number) const
{
    if (isUnknownCaller(number))
        return m_blockUnknown;
    const bool onList = listed(key(number));
    return m_blacklistMode ? onList : !onList;
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
