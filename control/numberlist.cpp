#include "control/numberlist.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace control {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

template <class Entries> std::string join(const Entries &entries, size_t skip = kNone)
{
    size_t size = 0;
    for (const auto &entry : entries)
        size += entry.size() + 1;
    std::string value;
    value.reserve(size);
    bool first = true;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i == skip)
            continue;
        if (!first)
            value += kListSeparator;
        value += entries[i];
        first = false;
    }
    return value;
}

// Entries of a type made from a string_view, with no list of views between: a list of
// 100,000 numbers is read at every daemon start.
template <class Entry> std::vector<Entry> split(std::string_view value, char separator)
{
    std::vector<Entry> entries;
    entries.reserve(static_cast<size_t>(std::count(value.begin(), value.end(), separator)) + 1);
    size_t pos = 0;
    while (pos <= value.size()) {
        auto end = value.find(separator, pos);
        if (end == std::string_view::npos)
            end = value.size();
        if (end > pos)
            entries.emplace_back(value.substr(pos, end - pos));
        pos = end + 1;
    }
    return entries;
}

// Whether two separators stand side by side, eight bytes at a time: a search byte by byte
// (memmem, or memchr from separator to separator) costs about a millisecond on a list of
// 100,000 numbers, and an edit runs it on every save.
bool hasAdjacentSeparators(std::string_view value)
{
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the bytes of a word are read low first");
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    std::uint64_t lastWasSeparator = 0;
    size_t i = 0;
    for (; i + 8 <= value.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, value.data() + i, sizeof word);
        const std::uint64_t x = word ^ (kOnes * static_cast<unsigned char>(kListSeparator));
        // The top bit of each byte of `x` that is zero, and of no other (no borrow between bytes).
        const std::uint64_t separators = ~(((x & kLow7) + kLow7) | x | kLow7);
        if ((separators & (separators >> 8)) != 0 || (lastWasSeparator != 0 && (separators & 0x80) != 0))
            return true;
        lastWasSeparator = separators >> 63;
    }
    for (; i < value.size(); ++i) {
        const bool separator = value[i] == kListSeparator;
        if (separator && lastWasSeparator != 0)
            return true;
        lastWasSeparator = separator ? 1 : 0;
    }
    return false;
}

// Without empty fields, a list is edited in place of being split and joined again.
bool hasNoEmptyFields(std::string_view value)
{
    return value.empty()
        || (value.front() != kListSeparator && value.back() != kListSeparator && !hasAdjacentSeparators(value));
}

} // namespace

std::vector<std::string_view> splitListViews(std::string_view value, char separator)
{
    return split<std::string_view>(value, separator);
}

std::vector<std::string> splitList(std::string_view value, char separator)
{
    return split<std::string>(value, separator);
}

std::string joinList(const std::vector<std::string> &entries)
{
    return join(entries);
}

std::string listWithAdded(std::string_view value, std::string_view entry)
{
    if (!hasNoEmptyFields(value)) {
        std::vector<std::string_view> entries = splitListViews(value);
        entries.push_back(entry);
        return join(entries);
    }
    std::string edited;
    edited.reserve(value.size() + 1 + entry.size());
    edited.append(value);
    if (!value.empty())
        edited += kListSeparator;
    edited.append(entry);
    return edited;
}

std::string listWithout(std::string_view value, size_t index)
{
    if (!hasNoEmptyFields(value))
        return join(splitListViews(value), index);
    size_t begin = 0;
    for (size_t entry = 0; entry < index; ++entry) {
        begin = value.find(kListSeparator, begin);
        if (begin == std::string_view::npos)
            return std::string(value); // no such entry
        ++begin;
    }
    if (begin >= value.size())
        return std::string(value);
    const size_t end = std::min(value.find(kListSeparator, begin), value.size());
    // The entry and one separator beside it: the one after it, or before the last.
    std::string edited(value.substr(0, begin > 0 && end == value.size() ? begin - 1 : begin));
    if (end < value.size())
        edited.append(value.substr(end + 1));
    return edited;
}

ListChange listChange(const std::vector<std::string_view> &before, const std::vector<std::string_view> &after)
{
    const size_t shorter = std::min(before.size(), after.size());
    size_t head = 0;
    while (head < shorter && before[head] == after[head])
        ++head;
    size_t tail = 0;
    while (tail < shorter - head && before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    return {head, before.size() - head - tail, after.size() - head - tail};
}

} // namespace control
