#include "ezx/zlistbox.h"

#include "ezx/zglobal.h"

#include "ezx/zlistboxitem.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <optional>

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
        const QRect iconArea(area.left(), area.center().y() - icon.height() / 2, icon.width(), icon.height());
        // On the highlight, icon and text are in its text colour.
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QColor onHighlight = option.palette.color(QPalette::HighlightedText);
        const auto rowIcon = index.data(Qt::DecorationRole).value<QIcon>();
        if (selected && !rowIcon.isNull())
            painter->drawPixmap(
                iconArea, ZGlobal::tinted(rowIcon.pixmap(icon, painter->device()->devicePixelRatioF()), onHighlight));
        else
            rowIcon.paint(painter, iconArea);
        QRect text = area.adjusted(icon.width() + 8, 0, 0, 0);
        const int lineHeight = option.fontMetrics.height();
        text.setTop(area.center().y() - lineHeight * int(lines.size()) / 2);
        painter->save();
        for (int i = 0; i < lines.size(); ++i) {
            painter->setPen(selected ? onHighlight
                                     : option.palette.color(i == 0 ? QPalette::Text : QPalette::PlaceholderText));
            const QRect line(text.left(), text.top() + i * lineHeight, text.width(), lineHeight);
            painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                              option.fontMetrics.elidedText(lines.at(i), Qt::ElideRight, line.width()));
        }
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const int lines = int(index.data(Qt::DisplayRole).toString().count(QLatin1Char('\n'))) + 1;
        const int content = qMax(option.decorationSize.height(), lines * option.fontMetrics.height()) + 10;
        return {option.rect.width(), qMax(content, ZGlobal::kTouchSize)};
    }
};

// Check rows: the standard delegate's check boxes, on rows a finger can press. The box is
// outlined in the text's colour: some dark themes draw an empty one in the base's.
class CheckDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        QStyleOptionViewItem box = option;
        initStyleOption(&box, index);
        const QWidget *view = option.widget;
        QStyle *style = view != nullptr ? view->style() : QApplication::style();
        const QRect indicator = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &box, view);
        QColor outline = option.palette.color((option.state & QStyle::State_Selected) != 0 ? QPalette::HighlightedText
                                                                                           : QPalette::Text);
        outline.setAlpha(160);
        painter->save();
        painter->setPen(outline);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(indicator.adjusted(0, 0, -1, -1));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index).expandedTo(QSize(0, ZGlobal::kTouchSize));
    }
};

} // namespace

// The rows. Rows appended are told to the view together when it is next asked or shown, so
// that filling a long list costs what the rows cost and not what telling the view of each
// would: the window maps in 105 ms at 100,000 numbers against 244 ms telling each, and holds
// 58 MiB against 111 (bench_startup). Any other change is told at once. Emptied and filled
// again, the box keeps the cursor on its row, as far as the rows reach.
class ZListBoxRows : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    // The view's rows are the first m_viewRows.
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : m_viewRows; }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        const ZListBoxItem &row = m_rows[size_t(index.row())];
        switch (role) {
        case Qt::DisplayRole: return QString::fromStdString(row.utf8());
        case Qt::DecorationRole: return row.pixmap().isNull() ? QVariant() : QIcon(row.pixmap());
        case Qt::CheckStateRole:
            if (!m_checkMode)
                return {};
            return m_cursor->currentIndex().row() == index.row() ? Qt::Checked : Qt::Unchecked;
        default: return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    size_t size() const { return m_rows.size(); }
    bool changing() const { return size_t(m_viewRows) < m_rows.size(); }
    ZListBoxItem &at(size_t row) { return m_rows[row]; }

    void append(ZListBoxItem &&item) { m_rows.push_back(std::move(item)); }

    void insert(size_t at, ZListBoxItem &&item)
    {
        showChanges();
        beginInsertRows({}, int(at), int(at));
        m_rows.insert(m_rows.begin() + std::ptrdiff_t(at), std::move(item));
        ++m_viewRows;
        endInsertRows();
    }

    void remove(size_t at)
    {
        showChanges();
        beginRemoveRows({}, int(at), int(at));
        m_rows.erase(m_rows.begin() + std::ptrdiff_t(at));
        --m_viewRows;
        endRemoveRows();
    }

    void clear()
    {
        if (m_cursor->currentIndex().isValid())
            m_cursorRow = m_cursor->currentIndex().row();
        beginResetModel();
        m_rows.clear();
        m_viewRows = 0;
        endResetModel();
    }

    void showChanges()
    {
        if (size_t(m_viewRows) < m_rows.size()) {
            beginInsertRows({}, m_viewRows, int(m_rows.size()) - 1);
            m_viewRows = int(m_rows.size());
            endInsertRows();
        }
        // A check box shows a choice from its first row on.
        const int row = m_cursorRow.value_or(m_checkMode && !m_cursor->currentIndex().isValid() ? 0 : -1);
        if (row >= 0 && m_viewRows > 0) {
            m_cursorRow.reset();
            m_cursor->setCurrentIndex(index(qMin(row, m_viewRows - 1)), QItemSelectionModel::ClearAndSelect);
        }
    }

    void cursorMoved(const QModelIndex &current, const QModelIndex &previous)
    {
        if (!m_checkMode)
            return;
        for (const QModelIndex &changed : {previous, current}) {
            if (changed.isValid())
                emit dataChanged(changed, changed, {Qt::CheckStateRole});
        }
    }

    bool m_checkMode = false;
    QItemSelectionModel *m_cursor = nullptr; // the view's

private:
    std::deque<ZListBoxItem> m_rows;
    int m_viewRows = 0; // the rows the view knows of: the first ones
    std::optional<int> m_cursorRow; // the cursor's, from before the box was emptied
};

ZListBox::ZListBox(const QString & /*layout*/, QWidget *parent, unsigned int /*flags*/, int /*widgetClass*/)
    : QListView(parent)
{
    m_rows = new ZListBoxRows(this);
    setModel(m_rows);
    m_rows->m_cursor = selectionModel();
    setIconSize(QSize(24, 24));
    // Every row of a box has the same lines: the first row's height is every row's.
    setUniformItemSizes(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setSpacing(1);
    setEditTriggers(NoEditTriggers);
    setItemDelegate(new RowDelegate(this));
    const auto itemAt = [this](const QModelIndex &index) { return item(index.row()); };
    connect(this, &QListView::clicked, this, [this, itemAt](const QModelIndex &index) {
        if (!m_checkMode)
            emit returnPressed(itemAt(index));
    });
    connect(this, &QListView::doubleClicked, this, [this, itemAt](const QModelIndex &index) {
        if (m_checkMode)
            emit returnPressed(itemAt(index));
    });
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, m_rows, &ZListBoxRows::cursorMoved);
}

ZListBox::~ZListBox() = default;

void ZListBox::showChanges() const
{
    if (m_rows != nullptr) // events come while the rows are being made
        m_rows->showChanges();
}

void ZListBox::insertItem(ZListBoxItem *item, int index, bool /*autoHighlight*/)
{
    const std::unique_ptr<ZListBoxItem> taken(item);
    if (index >= 0 && index < count()) {
        m_rows->insert(size_t(index), std::move(*taken));
        return;
    }
    // Told at the latest when the event loop runs again.
    if (!m_rows->changing())
        QTimer::singleShot(0, this, [this] { showChanges(); });
    m_rows->append(std::move(*taken));
}

void ZListBox::removeItem(int index)
{
    if (index >= 0 && index < count())
        m_rows->remove(size_t(index));
}

void ZListBox::clear()
{
    m_rows->clear();
}

int ZListBox::count() const
{
    return int(m_rows->size());
}

ZListBoxItem *ZListBox::item(int index) const
{
    return index >= 0 && index < count() ? &m_rows->at(size_t(index)) : nullptr;
}

int ZListBox::currentItem() const
{
    showChanges();
    return currentIndex().isValid() ? currentIndex().row() : -1;
}

void ZListBox::setCurrentRow(int row)
{
    showChanges();
    setCurrentIndex(m_rows->index(row));
}

void ZListBox::setCheckMode(bool on)
{
    m_checkMode = on;
    m_rows->m_checkMode = on;
    if (on)
        setItemDelegate(new CheckDelegate(this));
}

bool ZListBox::itemChecked(int index) const
{
    return m_checkMode && index >= 0 && index == currentItem();
}

int ZListBox::checkedItem() const
{
    return m_checkMode ? currentItem() : -1;
}

int ZListBox::fittingHeight() const
{
    showChanges();
    // Rows are of one height (uniform item sizes).
    return 2 * frameWidth() + count() * (count() > 0 ? sizeHintForRow(0) + 2 * spacing() : 0);
}

bool ZListBox::event(QEvent *event)
{
    showChanges();
    return QListView::event(event);
}

bool ZListBox::viewportEvent(QEvent *event)
{
    showChanges();
    return QListView::viewportEvent(event);
}

void ZListBox::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right: event->ignore(); return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (ZListBoxItem *current = item(currentItem()))
            emit returnPressed(current);
        else
            event->ignore(); // a dialog may take Enter as its accept key
        return;
    default: break;
    }
    QListView::keyPressEvent(event);
}
