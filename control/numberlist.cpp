#include "numberlist.h"

namespace control {

std::vector<std::string_view> splitListViews(std::string_view value, char separator)
{
    std::vector<std::string_view> entries;
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
    std::string value;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0)
            value += kListSeparator;
        value += entries[i];
    }
    return value;
}

} // namespace control
