#include "zlistbox.h"

#include "zlistboxitem.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

// An icon, then the row's first text line and under it, quieter, the others.
class RowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem base = option;
        initStyleOption(&base, index);
        const QStringList lines = index.data(Qt::DisplayRole).toString().split(QLatin1Char('\n'));
        base.text.clear();
        base.icon = QIcon();
        const QWidget *view = option.widget;
        QStyle *style = view != nullptr ? view->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &base, painter, view);

        const QRect area = option.rect.adjusted(4, 2, -4, -2);
        const QSize icon = option.decorationSize;
        index.data(Qt::DecorationRole)
            .value<QIcon>()
            .paint(painter, QRect(area.left(), area.center().y() - icon.height() / 2, icon.width(), icon.height()));
        QRect text = area.adjusted(icon.width() + 8, 0, 0, 0);
        const int lineHeight = option.fontMetrics.height();
        text.setTop(area.center().y() - lineHeight * int(lines.size()) / 2);
        painter->save();
        for (int i = 0; i < lines.size(); ++i) {
            painter->setPen(option.palette.color(i == 0 ? QPalette::Text : QPalette::PlaceholderText));
            const QRect line(text.left(), text.top() + i * lineHeight, text.width(), lineHeight);
            painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                              option.fontMetrics.elidedText(lines.at(i), Qt::ElideRight, line.width()));
        }
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const int lines = int(index.data(Qt::DisplayRole).toString().count(QLatin1Char('\n'))) + 1;
        return {option.rect.width(), qMax(option.decorationSize.height(), lines * option.fontMetrics.height()) + 10};
    }
};

} // namespace

ZListBox::ZListBox(const QString & /*layout*/, QWidget *parent, unsigned int /*flags*/, int /*widgetClass*/)
    : QListWidget(parent)
{
    setIconSize(QSize(24, 24));
    setUniformItemSizes(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setSpacing(1);
    setItemDelegate(new RowDelegate(this));
    connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        if (!m_checkMode)
            emit returnPressed(static_cast<ZListBoxItem *>(item));
    });
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        if (m_checkMode)
            emit returnPressed(static_cast<ZListBoxItem *>(item));
    });
    connect(this, &QListWidget::currentRowChanged, this, [this] {
        if (m_checkMode)
            checkCurrent();
    });
}

void ZListBox::insertItem(ZListBoxItem *item, int index, bool /*autoHighlight*/)
{
    if (m_checkMode) {
        // Shown checked or not, but never toggled by itself (Space, a click on its box).
        item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    QListWidget::insertItem(index < 0 ? count() : index, item);
    if (m_checkMode) {
        if (currentRow() < 0)
            setCurrentRow(0);
        checkCurrent();
    }
}

void ZListBox::removeItem(int index)
{
    delete takeItem(index);
}

int ZListBox::currentItem() const
{
    return currentRow();
}

ZListBoxItem *ZListBox::item(int index) const
{
    return static_cast<ZListBoxItem *>(QListWidget::item(index));
}

void ZListBox::setCheckMode(bool on)
{
    m_checkMode = on;
    // Check boxes are the standard delegate's.
    if (on)
        setItemDelegate(new QStyledItemDelegate(this));
}

bool ZListBox::itemChecked(int index) const
{
    const QListWidgetItem *row = QListWidget::item(index);
    return row != nullptr && row->checkState() == Qt::Checked;
}

void ZListBox::checkCurrent()
{
    const int current = currentRow();
    for (int i = 0; i < count(); ++i)
        QListWidget::item(i)->setCheckState(i == current ? Qt::Checked : Qt::Unchecked);
}

int ZListBox::checkedItem() const
{
    for (int i = 0; i < count(); ++i) {
        if (itemChecked(i))
            return i;
    }
    return -1;
}

int ZListBox::fittingHeight(const QListWidget *list)
{
    int height = 2 * list->frameWidth();
    for (int row = 0; row < list->count(); ++row)
        height += list->sizeHintForRow(row) + 2 * list->spacing();
    return height;
}

void ZListBox::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right: event->ignore(); return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (QListWidgetItem *current = QListWidget::currentItem())
            emit returnPressed(static_cast<ZListBoxItem *>(current));
        else
            event->ignore(); // a dialog may take Enter as its accept key
        return;
    default: break;
    }
    QListWidget::keyPressEvent(event);
}
