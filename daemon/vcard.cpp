#include "daemon/vcard.h"

#include "settingsstore/numberlist.h"

#include <algorithm>
#include <cctype>

namespace control::vcard {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The logical lines: a line that begins with a blank or a tab continues the one before.
std::vector<std::string> unfolded(std::string_view text)
{
    std::vector<std::string> lines;
    forEachListEntry(
        text,
        [&lines](std::string_view line) {
            if (line.back() == '\r')
                line.remove_suffix(1);
            if (!lines.empty() && !line.empty() && (line.front() == ' ' || line.front() == '\t'))
                lines.back().append(line.substr(1));
            else
                lines.emplace_back(line);
        },
        '\n');
    return lines;
}

} // namespace

std::vector<std::string> telephoneNumbers(std::string_view text)
{
    std::vector<std::string> numbers;
    for (const std::string &line : unfolded(text)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string_view name = std::string_view(line).substr(0, std::min(line.find(';'), colon));
        if (const size_t dot = name.rfind('.'); dot != std::string_view::npos)
            name.remove_prefix(dot + 1); // a group
        if (!equalsIgnoringCase(name, "TEL"))
            continue;
        std::string_view value = std::string_view(line).substr(colon + 1);
        if (equalsIgnoringCase(value.substr(0, 4), "tel:"))
            value = value.substr(
                4, value.find(';') == std::string_view::npos ? std::string_view::npos : value.find(';') - 4);
        const size_t first = value.find_first_not_of(" \t");
        const size_t last = value.find_last_not_of(" \t");
        if (first == std::string_view::npos || value[last] == '*')
            continue;
        numbers.emplace_back(value.substr(first, last - first + 1));
    }
    return numbers;
}

} // namespace control::vcard
