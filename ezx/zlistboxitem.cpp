#include "ezx/zlistboxitem.h"

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
    if (column < 0 || column >= kColumns)
        return;
    const int at = firstLine(column + 1);
    if (lineCount() == 0) {
        m_text = text;
    } else if (at == lineCount()) {
        // To the size it needs: grown by +=, a register row of two lines kept a third more.
        m_text.reserve(m_text.size() + 1 + text.size());
        m_text += QLatin1Char('\n');
        m_text += text;
    } else {
        qsizetype start = 0;
        for (int line = 0; line < at; ++line)
            start = m_text.indexOf(QLatin1Char('\n'), start) + 1;
        m_text.insert(start, text + QLatin1Char('\n'));
    }
    m_lines[column] += int(text.count(QLatin1Char('\n'))) + 1;
}

QString ZListBoxItem::getSubItemText(int column, int line, bool /*reserved*/) const
{
    return subItems(column).value(line);
}

QStringList ZListBoxItem::subItems(int column) const
{
    if (column < 0 || column >= kColumns || m_lines[column] == 0)
        return {};
    return m_text.split(QLatin1Char('\n')).mid(firstLine(column), m_lines[column]);
}
