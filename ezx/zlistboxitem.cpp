#include "zlistboxitem.h"

ZListBoxItem::ZListBoxItem(ZListBox * /*box*/, const QString & /*layout*/)
    : QListWidgetItem(nullptr, QListWidgetItem::UserType)
{
}

void ZListBoxItem::setPixmap(int /*column*/, const QPixmap &pixmap, bool /*autoResize*/, bool /*reserved*/)
{
    setIcon(QIcon(pixmap));
}

void ZListBoxItem::appendSubItem(int column, const QString &text, bool /*autoResize*/, const QPixmap * /*pixmap*/)
{
    if (column < 0)
        return;
    if (m_columns.size() <= column)
        m_columns.resize(column + 1);
    m_columns[column].append(text);
    updateText();
}

QString ZListBoxItem::getSubItemText(int column, int line, bool /*reserved*/) const
{
    return subItems(column).value(line);
}

QStringList ZListBoxItem::subItems(int column) const
{
    return m_columns.value(column);
}

void ZListBoxItem::updateText()
{
    QStringList lines;
    for (const QStringList &column : m_columns)
        lines += column;
    setText(lines.join(QLatin1Char('\n')));
}
