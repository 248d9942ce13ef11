#include "firewall/callscreen.h"

#include "settingsstore/atomicfile.h"
#include "settingsstore/numberlist.h"

#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace firewall {

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

// Below this many entries to parse, threads cost more than they save.
constexpr size_t kParallelFrom = 2000;

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

bool isPrefixEntry(const std::string &entry)
{
    return !entry.empty() && entry.back() == '*';
}

// A leading "00" (after blanks) read as "+": the international call prefix of most countries.
std::string withPlus(std::string_view number)
{
    std::string text(number);
    if (const auto first = text.find_first_not_of(" \t");
        first != std::string::npos && text.compare(first, 2, "00") == 0)
        text.replace(first, 2, "+");
    return text;
}

std::string digitsOf(std::string_view text)
{
    std::string digits;
    for (const char c : text) {
        if (c >= '0' && c <= '9')
            digits += c;
    }
    return digits;
}

// "600 11 22 33", "020 7946 0000": digits and blanks, dashes, dots or brackets, one leading
// trunk zero at most; its digits without the trunk zero.
std::optional<std::string> nationalDigits(std::string_view text)
{
    if (text.find_first_not_of("0123456789 -.()") != std::string_view::npos)
        return std::nullopt;
    std::string digits = digitsOf(text);
    if (digits.size() > 1 && digits[0] == '0')
        digits.erase(0, 1);
    if (digits.empty() || digits[0] == '0')
        return std::nullopt;
    return digits;
}

// The digits of an international form after its country code ("34600112233" -> "600112233");
// empty where no country code begins them.
std::string nationalPart(std::string_view digits)
{
    const PhoneNumberUtil &util = *PhoneNumberUtil::GetInstance();
    // Country codes are 1 to 3 digits, and none begins another.
    for (size_t length = 1; length <= 3 && length < digits.size(); ++length) {
        std::string region;
        util.GetRegionCodeForCountryCode(std::stoi(std::string(digits.substr(0, length))), &region);
        if (region != "ZZ")
            return std::string(digits.substr(length));
    }
    return {};
}

// Whether some entry of `sorted` begins `key`.
bool beginsWithOneOf(const std::vector<std::string> &sorted, std::string_view key)
{
    for (size_t length = 1; length <= key.size() && !sorted.empty(); ++length) {
        if (std::binary_search(sorted.begin(), sorted.end(), key.substr(0, length), std::less<>()))
            return true;
    }
    return false;
}

} // namespace

CallScreen CallScreen::listing(std::vector<std::string> numbers, std::string region)
{
    FirewallSettings asList;
    asList.blacklistMode = true;
    asList.blacklist = std::move(numbers);
    return {asList, std::move(region)};
}

CallScreen::CallScreen(const FirewallSettings &settings, std::string region, const keycache::Keys *known,
                       std::vector<std::uint64_t> *keys)
    : m_region(std::move(region))
    , m_blacklistMode(settings.blacklistMode)
    , m_blockUnknown(settings.blockUnknown)
{
    const auto &list = m_blacklistMode ? settings.blacklist : settings.whitelist;
    m_numbers.reserve(list.size());
    std::vector<std::uint64_t> listKeys =
        known != nullptr ? keycache::match(*known, list) : std::vector<std::uint64_t>(list.size(), keycache::kNotKept);
    std::vector<size_t> unknown;
    for (size_t i = 0; i < list.size(); ++i) {
        if (isPrefixEntry(list[i])) {
            addPrefix(std::string_view(list[i]).substr(0, list[i].size() - 1));
            listKeys[i] = 0;
        } else if (listKeys[i] == keycache::kNotKept) {
            unknown.push_back(i);
        }
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
        if (listKeys[i] != 0) {
            m_numbers.push_back(listKeys[i]);
            if (m_region.empty())
                m_nationalOfInternational.numbers.push_back(nationalPart(std::to_string(listKeys[i])));
        } else if (!isPrefixEntry(list[i])) {
            m_texts.push_back("=" + list[i]);
            if (const auto national = nationalDigits(list[i]); national && m_region.empty())
                m_nationalEntries.numbers.push_back(*national);
        }
    }
    if (keys != nullptr)
        *keys = std::move(listKeys);
    std::sort(m_numbers.begin(), m_numbers.end());
    std::sort(m_texts.begin(), m_texts.end());
    std::sort(m_prefixes.begin(), m_prefixes.end());
    m_numbers.shrink_to_fit();
    for (NationalForms *forms : {&m_nationalEntries, &m_nationalOfInternational}) {
        std::sort(forms->numbers.begin(), forms->numbers.end());
        std::sort(forms->prefixes.begin(), forms->prefixes.end());
    }
}

bool CallScreen::NationalForms::match(const std::string &digits) const
{
    return !digits.empty()
        && (std::binary_search(numbers.begin(), numbers.end(), digits) || beginsWithOneOf(prefixes, digits));
}

void CallScreen::addPrefix(std::string_view written)
{
    m_prefixes.push_back("=" + std::string(written));
    const std::string body = withPlus(written);
    const std::string digits = digitsOf(body);
    const auto first = body.find_first_not_of(" \t");
    if (first == std::string::npos) {
        m_everyNumber = true; // "*"
    } else if (body[first] == '+' && body.find_first_not_of("0123456789 -.()", first + 1) == std::string::npos) {
        if (digits.empty())
            m_everyPhoneNumber = true; // "+*"
        else
            m_prefixes.push_back("+" + digits);
        if (m_region.empty())
            m_nationalOfInternational.prefixes.push_back(nationalPart(digits));
    } else if (const auto national = nationalDigits(body); national && m_region.empty()) {
        m_nationalEntries.prefixes.push_back(*national);
    } else if (national) {
        const PhoneNumberUtil &util = *PhoneNumberUtil::GetInstance();
        std::string trunk;
        util.GetNddPrefixForRegion(m_region, true, &trunk);
        const bool trunkWritten = !trunk.empty() && digitsOf(body).compare(0, trunk.size(), trunk) == 0;
        m_prefixes.push_back("+" + std::to_string(util.GetCountryCodeForRegion(m_region))
                             + digits.substr(trunkWritten ? trunk.size() : 0));
    }
}

// Without a region, a national form and an international one of the same number match either
// way; a national form may be any country's.
bool CallScreen::listedNationally(std::string_view caller, const std::string &key) const
{
    if (!m_region.empty())
        return false;
    if (e164Digits(key))
        return m_nationalEntries.match(nationalPart(std::string_view(key).substr(1)));
    const auto digits = nationalDigits(caller);
    return digits && (m_nationalEntries.match(*digits) || m_nationalOfInternational.match(*digits));
}

std::uint64_t CallScreen::numberKey(std::string_view entry) const
{
    return e164Digits(key(entry)).value_or(0);
}

bool CallScreen::listed(const std::string &key) const
{
    // Text prefixes are looked at in blocks(), on the caller as written.
    if (const auto digits = e164Digits(key))
        return std::binary_search(m_numbers.begin(), m_numbers.end(), *digits) || beginsWithOneOf(m_prefixes, key);
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
    // In a region, its own international call prefix is the library's to read.
    if (number.size() <= kMaxNumberLength
        && util.Parse(m_region.empty() ? withPlus(number) : std::string(number), region, &parsed)
            == PhoneNumberUtil::NO_PARSING_ERROR
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
    // A text prefix holds for the caller as written, whatever it parses to (a text's key is
    // that, so listed() leaves it here).
    const std::string key = this->key(number);
    const bool onList = m_everyNumber || (m_everyPhoneNumber && e164Digits(key)) || listed(key)
        || listedNationally(number, key)
        || (!m_prefixes.empty() && beginsWithOneOf(m_prefixes, "=" + std::string(number)));
    return m_blacklistMode ? onList : !onList;
}

} // namespace firewall
