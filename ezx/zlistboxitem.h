#pragma once

#include <QPixmap>
#include <QStringList>
#include <QUtf8StringView>

#include <cstdint>
#include <limits>
#include <string>

class ZListBox;

// One row of a ZListBox: an icon column and columns of text lines, as the layout string
// ("%I%M": icon, then multi-line text) describes. The row is shown once inserted; the box
// owns it from then on. Kept small: a list of 100,000 numbers is 100,000 rows. A column holds
// at most kMaxLines lines (what is beyond is cut off), and a row shows no icon when more than
// kMaxIcons other icons are shown.
class ZListBoxItem
{
public:
    static constexpr int kMaxLines = std::numeric_limits<uint16_t>::max();
    static constexpr int kMaxIcons = std::numeric_limits<int16_t>::max();

    ZListBoxItem(ZListBox *box, const QString &layout);
    ~ZListBoxItem();
    ZListBoxItem(const ZListBoxItem &) = delete;
    ZListBoxItem &operator=(const ZListBoxItem &) = delete;

    void setPixmap(int column, const QPixmap &pixmap, bool autoResize = true, bool reserved = false);
    // A text with line ends is taken as that many lines.
    void appendSubItem(int column, const QString &text, bool autoResize = true, const QPixmap *pixmap = nullptr);
    // The same from UTF-8, without a QString on the way.
    void appendSubItem(int column, QUtf8StringView text);
    // Empty when the column or line does not exist.
    QString getSubItemText(int column, int line, bool reserved = false) const;
    QStringList subItems(int column) const;

    QPixmap pixmap() const;
    // Every text line, column by column, joined by line ends.
    QString text() const { return QString::fromUtf8(m_text.data(), qsizetype(m_text.size())); }

private:
    static constexpr int kColumns = 3;

    int firstLine(int column) const;
    int lineCount() const { return firstLine(kColumns); }

    // One string for all lines, in UTF-8: half the room of UTF-16, and a number of up to 15
    // bytes stands in the string itself. With the rest, a row is a heap block of 48 bytes.
    std::string m_text;
    uint16_t m_lines[kColumns] = {};
    // Rows share their icons: a QPixmap in each row would be 32 bytes a row.
    int16_t m_icon = -1;
};
static_assert(sizeof(ZListBoxItem) <= 40);
