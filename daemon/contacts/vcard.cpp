#include "daemon/contacts/vcard.h"

#include <algorithm>
#include <cctype>

namespace vcard {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The number of a logical line that is a TEL property; empty for any other line.
std::string_view telephoneNumber(std::string_view line)
{
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return {};
    std::string_view name = line.substr(0, std::min(line.find(';'), colon));
    if (const size_t dot = name.rfind('.'); dot != std::string_view::npos)
        name.remove_prefix(dot + 1); // a group
    if (!equalsIgnoringCase(name, "TEL"))
        return {};
    std::string_view value = line.substr(colon + 1);
    if (equalsIgnoringCase(value.substr(0, 4), "tel:"))
        value =
            value.substr(4, value.find(';') == std::string_view::npos ? std::string_view::npos : value.find(';') - 4);
    const size_t first = value.find_first_not_of(" \t");
    const size_t last = value.find_last_not_of(" \t");
    if (first == std::string_view::npos || value[last] == '*')
        return {};
    return value.substr(first, last - first + 1);
}

} // namespace

void TelephoneReader::feed(std::string_view piece)
{
    while (!piece.empty()) {
        if (m_atLineStart) {
            m_atLineStart = false;
            if (piece.front() == ' ' || piece.front() == '\t') {
                piece.remove_prefix(1); // a folded line goes on
                continue;
            }
            endLine();
        }
        const size_t end = std::min(piece.find('\n'), piece.size());
        m_overlong = m_overlong || m_line.size() + end > kMaxLine;
        if (!m_overlong)
            m_line.append(piece.substr(0, end));
        if (end < piece.size()) {
            m_atLineStart = true;
            if (!m_line.empty() && m_line.back() == '\r')
                m_line.pop_back();
        }
        piece.remove_prefix(std::min(end + 1, piece.size()));
    }
}

void TelephoneReader::endLine()
{
    if (const std::string_view number = telephoneNumber(m_line); !m_overlong && !number.empty())
        m_numbers.emplace_back(number);
    m_line.clear();
    m_overlong = false;
}

std::vector<std::string> TelephoneReader::finish()
{
    endLine();
    m_atLineStart = false;
    return std::move(m_numbers);
}

std::vector<std::string> telephoneNumbers(std::string_view text)
{
    TelephoneReader reader;
    reader.feed(text);
    return reader.finish();
}

} // namespace vcard
