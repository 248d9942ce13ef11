#include "ezx/zlistboxitem.h"

#include <algorithm>

ZListBoxItem::ZListBoxItem(ZListBox * /*box*/, const QString & /*layout*/) { }

void ZListBoxItem::setPixmap(int /*column*/, const QPixmap &pixmap, bool /*autoResize*/, bool /*reserved*/)
{
    m_pixmap = pixmap;
}

int ZListBoxItem::firstLine(int column) const
{
    int line = 0;
    for (int c = 0; c < column; ++c)
        line += m_lines[c];
    return line;
}

void ZListBoxItem::appendSubItem(int column, const QString &text, bool /*autoResize*/, const QPixmap * /*pixmap*/)
{
    appendSubItem(column, QUtf8StringView(text.toUtf8()));
}

void ZListBoxItem::appendSubItem(int column, QUtf8StringView text)
{
    if (column < 0 || column >= kColumns)
        return;
    std::string_view bytes(text.data(), size_t(text.size()));
    int lines = int(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
    if (m_lines[column] + lines > kMaxLines) {
        lines = kMaxLines - m_lines[column];
        if (lines == 0)
            return;
        size_t end = 0;
        for (int line = 0; line < lines; ++line)
            end = bytes.find('\n', end) + 1;
        bytes = bytes.substr(0, end - 1);
    }
    const int at = firstLine(column + 1);
    if (firstLine(kColumns) == 0) {
        m_text = bytes;
    } else if (at == firstLine(kColumns)) {
        m_text += '\n';
        m_text += bytes;
    } else {
        size_t start = 0;
        for (int line = 0; line < at; ++line)
            start = m_text.find('\n', start) + 1;
        m_text.insert(start, std::string(bytes) + '\n');
    }
    m_lines[column] = uint16_t(m_lines[column] + lines);
}

QString ZListBoxItem::getSubItemText(int column, int line, bool /*reserved*/) const
{
    return subItems(column).value(line);
}

QStringList ZListBoxItem::subItems(int column) const
{
    if (column < 0 || column >= kColumns || m_lines[column] == 0)
        return {};
    QStringList lines;
    size_t start = 0;
    for (int line = 0; line < firstLine(column); ++line)
        start = m_text.find('\n', start) + 1;
    for (int line = 0; line < m_lines[column]; ++line) {
        const size_t end = std::min(m_text.find('\n', start), m_text.size());
        lines.append(QString::fromUtf8(m_text.data() + start, qsizetype(end - start)));
        start = end + 1;
    }
    return lines;
}
