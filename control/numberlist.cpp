#include "control/numberlist.h"

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

} // namespace

std::vector<std::string_view> splitListViews(std::string_view value, char separator)
{
    std::vector<std::string_view> entries;
    entries.reserve(static_cast<size_t>(std::count(value.begin(), value.end(), separator)) + 1);
    size_t pos = 0;
    while (pos <= value.size()) {
        auto end = value.find(separator, pos);
        if (end == std::string_view::npos)
            end = value.size();
        if (end > pos)
            entries.push_back(value.substr(pos, end - pos));
        pos = end + 1;
    }
    return entries;
}

std::vector<std::string> splitList(std::string_view value, char separator)
{
    const std::vector<std::string_view> views = splitListViews(value, separator);
    return {views.begin(), views.end()};
}

std::string joinList(const std::vector<std::string> &entries)
{
    return join(entries);
}

std::string listWithAdded(std::string_view value, std::string_view entry)
{
    std::vector<std::string_view> entries = splitListViews(value);
    entries.push_back(entry);
    return join(entries);
}

std::string listWithout(std::string_view value, size_t index)
{
    return join(splitListViews(value), index);
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
