#pragma once

#include <QPixmap>
#include <QStringList>
#include <QUtf8StringView>

#include <array>
#include <cstdint>
#include <limits>
#include <string>

class ZListBox;

// One row of a ZListBox: an icon and columns of text lines, as the layout string ("%I%M":
// icon, then multi-line text) describes. Inserted into a box, the box takes its text and icon
// and deletes it. A column holds at most kMaxLines lines; what is beyond is cut off.
class ZListBoxItem
{
public:
    static constexpr int kMaxLines = std::numeric_limits<uint16_t>::max();
    static constexpr int kColumns = 3;
    using LineCounts = std::array<uint16_t, kColumns>;

    ZListBoxItem(ZListBox *box, const QString &layout);

    void setPixmap(int column, const QPixmap &pixmap, bool autoResize = true, bool reserved = false);
    // A text with line ends is taken as that many lines.
    void appendSubItem(int column, const QString &text, bool autoResize = true, const QPixmap *pixmap = nullptr);
    // The same from UTF-8, without a QString on the way.
    void appendSubItem(int column, QUtf8StringView text);
    // Empty when the column or line does not exist.
    QString getSubItemText(int column, int line, bool reserved = false) const;
    QStringList subItems(int column) const;

    const QPixmap &pixmap() const { return m_pixmap; }
    // Every text line, column by column, joined by line ends, in UTF-8.
    const std::string &utf8() const { return m_text; }

private:
    int firstLine(int column) const;

    std::string m_text;
    LineCounts m_lines = {};
    QPixmap m_pixmap;
};
