#include "settingsstore/numberlist.h"

#include <algorithm>

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

template <class Entry> std::vector<Entry> split(std::string_view value, char separator)
{
    std::vector<Entry> entries;
    entries.reserve(static_cast<size_t>(std::count(value.begin(), value.end(), separator)) + 1);
    forEachListEntry(
        value, [&entries](std::string_view entry) { entries.emplace_back(entry); }, separator);
    return entries;
}

// Without empty fields, a list is edited in place of being split and joined again.
bool hasNoEmptyFields(std::string_view value)
{
    return value.empty()
        || (value.front() != kListSeparator && value.back() != kListSeparator
            && value.find(";;") == std::string_view::npos);
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

} // namespace control
