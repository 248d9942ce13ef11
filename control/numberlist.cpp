#include "numberlist.h"

namespace control {

std::vector<std::string> splitList(std::string_view value, char separator)
{
    std::vector<std::string> entries;
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
