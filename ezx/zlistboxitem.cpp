#include "ezx/zlistboxitem.h"

ZListBoxItem::ZListBoxItem(ZListBox * /*box*/, const QString & /*layout*/) { }

void ZListBoxItem::setPixmap(int /*column*/, const QPixmap &pixmap, bool /*autoResize*/, bool /*reserved*/)
{
    m_pixmap = pixmap;
}

void ZListBoxItem::appendSubItem(int column, const QString &text, bool /*autoResize*/, const QPixmap * /*pixmap*/)
{
    if (column < 0 || column >= kColumns)
        return;
    Column &lines = m_columns[column];
    if (lines.lines++ == 0)
        lines.first = text;
    else
        lines.more.append(text);
}

QString ZListBoxItem::getSubItemText(int column, int line, bool /*reserved*/) const
{
    return subItems(column).value(line);
}

QStringList ZListBoxItem::subItems(int column) const
{
    if (column < 0 || column >= kColumns || m_columns[column].lines == 0)
        return {};
    return QStringList{m_columns[column].first} + m_columns[column].more;
}

QStringList ZListBoxItem::lines() const
{
    QStringList all;
    for (int column = 0; column < kColumns; ++column)
        all += subItems(column);
    return all;
}
