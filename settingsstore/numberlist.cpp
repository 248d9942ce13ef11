#include "settingsstore/numberlist.h"

namespace settingsstore {

std::vector<std::string> splitList(std::string_view value, char separator)
{
    std::vector<std::string> entries;
    const auto take = [&entries](std::string_view entry) { entries.emplace_back(entry); };
    forEachListEntry(value, take, separator);
    return entries;
}

std::string listWithAdded(std::string_view value, std::string_view entry)
{
    std::string edited;
    edited.reserve(value.size() + 1 + entry.size());
    forEachListEntry(value, [&edited](std::string_view kept) {
        edited.append(kept);
        edited += kListSeparator;
    });
    edited.append(entry);
    return edited;
}

std::string listWithout(std::string_view value, size_t index)
{
    std::string edited;
    edited.reserve(value.size());
    size_t at = 0;
    forEachListEntry(value, [&edited, &at, index](std::string_view kept) {
        if (at++ == index)
            return;
        if (!edited.empty()) // entries are never empty
            edited += kListSeparator;
        edited.append(kept);
    });
    return edited;
}

} // namespace settingsstore
