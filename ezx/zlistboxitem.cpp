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
    const int held = holdIcon(pixmap);
    releaseIcon(m_icon);
    m_icon = held;
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
    const int at = firstLine(column + 1);
    const QByteArrayView bytes(text.data(), text.size());
    if (lineCount() == 0) {
        m_text = bytes.toByteArray();
    } else if (at == lineCount()) {
        // To the size it needs: grown by +=, a register row of two lines kept a third more.
        m_text.reserve(m_text.size() + 1 + bytes.size());
        m_text += '\n';
        m_text += bytes;
    } else {
        qsizetype start = 0;
        for (int line = 0; line < at; ++line)
            start = m_text.indexOf('\n', start) + 1;
        m_text.insert(start, bytes.toByteArray() + '\n');
    }
    m_lines[column] += int(bytes.count('\n')) + 1;
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
    for (const QByteArray &line : m_text.split('\n').mid(firstLine(column), m_lines[column]))
        lines.append(QString::fromUtf8(line));
    return lines;
}
