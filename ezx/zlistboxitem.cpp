#include "ezx/zlistboxitem.h"

#include <QHash>

#include <algorithm>
#include <vector>

namespace {

// The icons rows show, each with the number of rows that show it; a slot no row uses is
// taken again. Never destroyed: rows may outlive it at exit.
struct Icons
{
    struct Icon
    {
        QPixmap pixmap;
        size_t rows = 0;
    };
    std::vector<Icon> entries;
    QHash<qint64, int> byKey; // QPixmap::cacheKey()
};

Icons &icons()
{
    static auto *shared = new Icons;
    return *shared;
}

int holdIcon(const QPixmap &pixmap)
{
    if (pixmap.isNull())
        return -1;
    Icons &icons = ::icons();
    int slot = icons.byKey.value(pixmap.cacheKey(), -1);
    if (slot < 0) {
        const auto unused = std::find_if(icons.entries.begin(), icons.entries.end(),
                                         [](const Icons::Icon &icon) { return icon.rows == 0; });
        slot = int(unused - icons.entries.begin());
        if (unused == icons.entries.end())
            icons.entries.emplace_back();
        icons.entries[size_t(slot)].pixmap = pixmap;
        icons.byKey.insert(pixmap.cacheKey(), slot);
    }
    ++icons.entries[size_t(slot)].rows;
    return slot;
}

void releaseIcon(int slot)
{
    if (slot < 0)
        return;
    Icons &icons = ::icons();
    Icons::Icon &icon = icons.entries[size_t(slot)];
    if (--icon.rows == 0) {
        icons.byKey.remove(icon.pixmap.cacheKey());
        icon.pixmap = QPixmap();
    }
}

} // namespace

ZListBoxItem::ZListBoxItem(ZListBox * /*box*/, const QString & /*layout*/) { }

ZListBoxItem::~ZListBoxItem()
{
    releaseIcon(m_icon);
}

void ZListBoxItem::setPixmap(int /*column*/, const QPixmap &pixmap, bool /*autoResize*/, bool /*reserved*/)
{
    int held = holdIcon(pixmap);
    if (held > kMaxIcons) {
        releaseIcon(held);
        held = -1;
    }
    releaseIcon(m_icon);
    m_icon = int16_t(held);
}

QPixmap ZListBoxItem::pixmap() const
{
    return m_icon < 0 ? QPixmap() : icons().entries[size_t(m_icon)].pixmap;
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
    if (lineCount() == 0) {
        m_text = bytes;
    } else if (at == lineCount()) {
        // To the size it needs: grown by +=, a register row of two lines kept a third more.
        m_text.reserve(m_text.size() + 1 + bytes.size());
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
