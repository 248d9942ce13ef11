#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace settingsstore {

inline constexpr char kListSeparator = ';';

// A number list as stored in one settings value: the entries joined by ';', not quoted.
// Splitting drops empty fields, so "1;;2;" reads as 1, 2 (the platform's split does so).
std::vector<std::string> splitList(std::string_view value, char separator = kListSeparator);

// Calls `take` with each entry, as a view into `value`, without a list of them between.
template <class Take> void forEachListEntry(std::string_view value, Take take, char separator = kListSeparator)
{
    for (size_t pos = 0; pos <= value.size();) {
        const size_t end = std::min(value.find(separator, pos), value.size());
        if (end > pos)
            take(value.substr(pos, end - pos));
        pos = end + 1;
    }
}

// The value after an edit: the entries joined again, with `entry` added at the end, or with
// the entry at `index` left out (none when the list is shorter).
std::string listWithAdded(std::string_view value, std::string_view entry);
std::string listWithout(std::string_view value, size_t index);

} // namespace settingsstore
