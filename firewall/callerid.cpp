#include "firewall/callerid.h"

#include <algorithm>
#include <utility>

namespace firewall {

namespace {

// Cf characters that change how a line reads or hide text, and the separators.
bool isHidden(char32_t c)
{
    return c == 0xAD || c == 0x61C || c == 0x180E || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E)
        || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

// The code point at `text[pos]` and its length in bytes; length 0 for a byte that does not
// begin a well-formed UTF-8 sequence.
std::pair<char32_t, size_t> decode(std::string_view text, size_t pos)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return {lead, 1};
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || pos + length > text.size())
        return {0, 0};
    char32_t c = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return {0, 0};
        c = (c << 6) | (byte(i) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return {0, 0};
    return {c, length};
}

// `number` as one line that shows what it holds: each control character (C0, DEL, C1), line
// or paragraph separator, invisible format character (bidirectional overrides, zero-width
// ones, BOM) and byte that is not UTF-8 becomes U+FFFD, so that a caller's ID can neither
// add lines to the register nor show one number as another.
std::string oneLine(std::string_view number)
{
    std::string line;
    line.reserve(number.size());
    for (size_t pos = 0; pos < number.size();) {
        const auto [c, length] = decode(number, pos);
        if (length == 0 || c < 0x20 || (c >= 0x7F && c <= 0x9F) || isHidden(c)) {
            line += "\xEF\xBF\xBD"; // U+FFFD
            pos += std::max<size_t>(length, 1);
            continue;
        }
        line.append(number.substr(pos, length));
        pos += length;
    }
    return line;
}

} // namespace

CallerId::CallerId(std::string_view raw)
{
    if (raw == kUnknown)
        return;
    if (raw.size() > kMaxLength) {
        size_t end = kMaxLength;
        while (end > 0 && (static_cast<unsigned char>(raw[end]) & 0xC0) == 0x80)
            --end;
        raw = raw.substr(0, end);
    }
    m_number = oneLine(raw);
}

std::string CallerId::logged() const
{
    return withheld() ? kUnknown : m_number;
}

} // namespace firewall
