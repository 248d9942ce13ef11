#pragma once

#include <QByteArray>
#include <QPixmap>
#include <QStringList>
#include <QUtf8StringView>

class ZListBox;

// One row of a ZListBox: an icon column and columns of text lines, as the layout string
// ("%I%M": icon, then multi-line text) describes. The row is shown once inserted; the box
// owns it from then on. Kept small: a list of 100,000 numbers is 100,000 rows.
class ZListBoxItem
{
public:
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
    QString text() const { return QString::fromUtf8(m_text); }

private:
    static constexpr int kColumns = 3;

    int firstLine(int column) const;
    int lineCount() const { return firstLine(kColumns); }

    // Rows share their icons: a QPixmap in each row would be 32 bytes a row.
    int m_icon = -1;
    // One string for all lines, in UTF-8: a row is a few dozen bytes besides its text, which
    // takes half the room it would in UTF-16.
    QByteArray m_text;
    int m_lines[kColumns] = {};
};
