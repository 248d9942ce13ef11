#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace settingsstore {

// An INI text that can be edited without losing anything it does not understand.
//
// Syntax: "[Group]" headers; "Key = Value" entries (blanks around key and value ignored);
// lines starting with '#' or ';' are comments. Keys and groups are case-sensitive. Entries
// before the first header belong to the group "". A repeated key or group is read as its
// last occurrence, and a write changes that occurrence. A UTF-8 BOM is skipped and CRLF line
// ends are accepted; both are written back, and new lines end as the first line does. Values
// are stored with KConfig-style escapes (\\ \n \r \t, and \s for a blank at either end) so
// that any text survives a round trip on one line; an unknown escape reads as written.
//
// Lines that are not touched by setValue() are written back byte for byte.
class IniDocument
{
public:
    static IniDocument parse(std::string_view text);
    std::string serialize() const;

    std::optional<std::string> value(const std::string &group, const std::string &key) const;
    // The same without a copy, valid while the document is neither changed nor gone.
    std::optional<std::string_view> valueView(const std::string &group, const std::string &key) const;
    void setValue(const std::string &group, const std::string &key, const std::string &value);
    // Lines that are neither blank, a comment, a header nor an entry: a damaged file.
    size_t strayLines() const;

private:
    struct Line
    {
        enum Kind { Other, Group, Entry } kind = Other;
        std::string text; // without its line end
        std::string name; // group name or key
        // An entry's value where it has escapes; else it is read in `text`, not copied (a list
        // of 100,000 numbers is 1.3 MB, and fresh pages cost a start most).
        std::optional<std::string> decoded;
        std::string eol; // "\n", "\r\n", or "" for a last line without one

        std::string_view value() const;
        void setValue(std::string_view value);
    };

    void reindex();

    std::vector<Line> m_lines;
    std::string m_bom;
    std::string m_eol = "\n"; // the line end of new lines
    // Where each (group, key) is read from, and after which line a new key of a group goes.
    std::map<std::pair<std::string, std::string>, size_t> m_entries;
    std::map<std::string, size_t> m_groupEnds;
};

std::string escapeIniValue(std::string_view value);
std::string unescapeIniValue(std::string_view text);

} // namespace settingsstore
