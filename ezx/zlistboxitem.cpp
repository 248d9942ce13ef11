#include "zlistboxitem.h"

ZListBoxItem::ZListBoxItem(ZListBox * /*box*/, const QString & /*layout*/) { }

void ZListBoxItem::setPixmap(int /*column*/, const QPixmap &pixmap, bool /*autoResize*/, bool /*reserved*/)
{
    m_pixmap = pixmap;
}

void ZListBoxItem::appendSubItem(int column, const QString &text, bool /*autoResize*/, const QPixmap * /*pixmap*/)
{
    if (column >= 0 && column < kColumns)
        m_columns[column].append(text);
}

QString ZListBoxItem::getSubItemText(int column, int line, bool /*reserved*/) const
{
    return subItems(column).value(line);
}

QStringList ZListBoxItem::subItems(int column) const
{
    return column >= 0 && column < kColumns ? m_columns[column] : QStringList();
}

void ZListBoxItem::setData(int role, const QVariant &value)
{
    for (auto &entry : m_data) {
        if (entry.first == role) {
            entry.second = value;
            return;
        }
    }
    m_data.emplace_back(role, value);
}

QVariant ZListBoxItem::data(int role) const
{
    for (const auto &entry : m_data) {
        if (entry.first == role)
            return entry.second;
    }
    return {};
}

QStringList ZListBoxItem::lines() const
{
    QStringList all;
    for (const QStringList &column : m_columns)
        all += column;
    return all;
}
