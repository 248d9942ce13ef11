#include "settingsstore/inidocument.h"

namespace settingsstore {

namespace {

std::string_view trimmed(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

} // namespace

std::string escapeIniValue(std::string_view value)
{
    // Most values (a number list of any length) need no escape: copied whole. One search a
    // character (memchr) is many times faster on a long value than find_first_of.
    const auto has = [value](char c) { return value.find(c) != std::string_view::npos; };
    if (!has('\\') && !has('\n') && !has('\r') && !has('\t')
        && (value.empty() || (value.front() != ' ' && value.back() != ' ')))
        return std::string(value);
    std::string out;
    out.reserve(value.size() + 8);
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case ' ': out += (i == 0 || i + 1 == value.size()) ? "\\s" : " "; break;
        default: out += c;
        }
    }
    return out;
}

std::string unescapeIniValue(std::string_view text)
{
    if (text.find('\\') == std::string_view::npos)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[i + 1]) {
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 's': out += ' '; break;
        default: out += '\\'; continue; // the next character is read as itself
        }
        ++i;
    }
    return out;
}

IniDocument IniDocument::parse(std::string_view text)
{
    IniDocument doc;
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (text.substr(0, kBom.size()) == kBom) {
        doc.m_bom = kBom;
        text.remove_prefix(kBom.size());
    }
    const auto firstEnd = text.find('\n');
    if (firstEnd != std::string_view::npos && firstEnd > 0 && text[firstEnd - 1] == '\r')
        doc.m_eol = "\r\n";

    size_t pos = 0;
    while (pos < text.size()) {
        auto end = text.find('\n', pos);
        Line line;
        if (end == std::string_view::npos)
            end = text.size();
        else
            line.eol = "\n";
        std::string_view raw = text.substr(pos, end - pos);
        pos = end + 1;
        if (!raw.empty() && raw.back() == '\r') {
            raw.remove_suffix(1);
            line.eol.insert(0, "\r");
        }

        line.text = raw;
        const std::string_view body = trimmed(raw);
        if (body.empty() || body.front() == '#' || body.front() == ';') {
            line.kind = Line::Other;
        } else if (body.front() == '[' && body.back() == ']') {
            line.kind = Line::Group;
            line.name = std::string(body.substr(1, body.size() - 2));
        } else if (const auto eq = body.find('='); eq != std::string_view::npos) {
            line.kind = Line::Entry;
            line.name = std::string(trimmed(body.substr(0, eq)));
            if (const std::string_view value = trimmed(body.substr(eq + 1)); value.find('\\') != std::string_view::npos)
                line.decoded = unescapeIniValue(value);
        }
        doc.m_lines.push_back(std::move(line));
    }
    doc.reindex();
    return doc;
}

void IniDocument::reindex()
{
    m_entries.clear();
    m_groupEnds.clear();
    std::string group;
    m_groupEnds[group] = 0;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines[i];
        if (line.kind == Line::Group) {
            group = line.name;
            m_groupEnds[group] = i + 1;
        } else if (line.kind == Line::Entry) {
            m_entries[{group, line.name}] = i;
            m_groupEnds[group] = i + 1;
        }
    }
}

std::string_view IniDocument::Line::value() const
{
    if (decoded)
        return *decoded;
    const std::string_view entry = text;
    return trimmed(entry.substr(entry.find('=') + 1));
}

void IniDocument::Line::setValue(std::string_view value)
{
    const std::string escaped = escapeIniValue(value);
    text = name + " = " + escaped;
    decoded = escaped == value ? std::nullopt : std::optional<std::string>(value);
}

std::string IniDocument::serialize() const
{
    std::string out = m_bom;
    size_t size = out.size();
    for (const Line &line : m_lines)
        size += line.text.size() + 2;
    out.reserve(size);
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines[i];
        out += line.text;
        out += line.eol;
        // A last line without its line end keeps it so, unless a line now follows it. One that
        // ends in a carriage return alone gets the line feed that makes it a CRLF: another
        // would read as part of its value.
        if (i + 1 < m_lines.size() && line.eol.empty())
            out += m_eol;
        else if (i + 1 < m_lines.size() && line.eol.back() != '\n')
            out += '\n';
    }
    return out;
}

std::optional<std::string> IniDocument::value(const std::string &group, const std::string &key) const
{
    if (const auto view = valueView(group, key))
        return std::string(*view);
    return std::nullopt;
}

std::optional<std::string_view> IniDocument::valueView(const std::string &group, const std::string &key) const
{
    const auto it = m_entries.find({group, key});
    if (it == m_entries.end())
        return std::nullopt;
    return m_lines[it->second].value();
}

size_t IniDocument::strayLines() const
{
    size_t count = 0;
    for (const Line &line : m_lines) {
        const std::string_view body = trimmed(line.text);
        count += line.kind == Line::Other && !body.empty() && body.front() != '#' && body.front() != ';' ? 1 : 0;
    }
    return count;
}

void IniDocument::setValue(const std::string &group, const std::string &key, const std::string &value)
{
    if (const auto it = m_entries.find({group, key}); it != m_entries.end()) {
        m_lines[it->second].setValue(value);
        return;
    }
    Line entry;
    entry.eol = m_eol;
    entry.kind = Line::Entry;
    entry.name = key;
    entry.setValue(value);

    if (const auto end = m_groupEnds.find(group); end != m_groupEnds.end()) {
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(end->second), std::move(entry));
    } else {
        if (!m_lines.empty() && !m_lines.back().text.empty()) {
            Line blank;
            blank.eol = entry.eol;
            m_lines.push_back(std::move(blank));
        }
        Line header;
        header.eol = entry.eol;
        header.kind = Line::Group;
        header.name = group;
        header.text = "[" + group + "]";
        m_lines.push_back(std::move(header));
        m_lines.push_back(std::move(entry));
    }
    reindex();
}

} // namespace settingsstore
