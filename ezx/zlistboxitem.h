#pragma once

#include <QListWidgetItem>
#include <QPixmap>
#include <QStringList>
#include <QVector>

class ZListBox;

// One row of a ZListBox: an icon column and columns of text lines, as the layout string
// ("%I%M": icon, then multi-line text) describes. The row is shown once inserted.
class ZListBoxItem : public QListWidgetItem
{
public:
    ZListBoxItem(ZListBox *box, const QString &layout);

    void setPixmap(int column, const QPixmap &pixmap, bool autoResize = true, bool reserved = false);
    void appendSubItem(int column, const QString &text, bool autoResize = true, const QPixmap *pixmap = nullptr);
    // Empty when the column or line does not exist.
    QString getSubItemText(int column, int line, bool reserved = false) const;
    QStringList subItems(int column) const;

private:
    void updateText();

    QVector<QStringList> m_columns;
};
