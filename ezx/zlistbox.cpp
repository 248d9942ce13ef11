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
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

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

// The rows, as their text one after another and where each starts, with the icons they
// show: a row is 12 bytes beside its text. Rows appended, and the first rows removed, are told
// to the view together when it is next asked or shown, so that emptying and filling a long
// list costs what the rows cost and not what telling the view of each would; any other change
// is told at once. Emptied and filled again, the box keeps the cursor on its row, as far as
// the rows reach.
class ZListBoxRows : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    // The view's rows are the first m_shown of m_rows: removed ones it has not been told of
    // yet included.
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : m_shown; }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        const auto row = size_t(index.row());
        switch (role) {
        case Qt::DisplayRole: return QString::fromUtf8(text(row));
        case Qt::DecorationRole: return m_rows[row].icon < 0 ? QVariant() : QIcon(m_icons[size_t(m_rows[row].icon)]);
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

    // Rows are counted from the first one not removed.
    size_t size() const { return m_rows.size() - m_removed; }
    bool changing() const { return m_removed > 0 || size_t(m_shown) < m_rows.size(); }

    std::unique_ptr<ZListBoxItem> item(size_t row) const
    {
        const Row &r = m_rows[m_removed + row];
        return std::make_unique<ZListBoxItem>(std::string(text(m_removed + row)), r.lines,
                                              r.icon < 0 ? QPixmap() : m_icons[size_t(r.icon)]);
    }

    void append(const ZListBoxItem &item) { store(m_rows.size(), item); }

    void insert(size_t at, const ZListBoxItem &item)
    {
        showChanges();
        beginInsertRows({}, int(at), int(at));
        store(at, item);
        ++m_shown;
        endInsertRows();
    }

    void remove(size_t at)
    {
        if (at == 0) {
            // Emptied, it is a box to fill again from its first row.
            if (++m_removed == m_rows.size())
                clear();
            return;
        }
        showChanges();
        beginRemoveRows({}, int(at), int(at));
        erase(at, at + 1);
        --m_shown;
        endRemoveRows();
    }

    void clear()
    {
        if (m_cursor->currentIndex().isValid())
            m_cursorRow = m_cursor->currentIndex().row();
        beginResetModel();
        m_text.clear();
        m_rows.clear();
        m_icons.clear();
        m_shown = 0;
        m_removed = 0;
        endResetModel();
    }

    void showChanges()
    {
        if (m_removed > 0) {
            const int told = int(qMin(m_removed, size_t(m_shown)));
            if (told > 0 && told == m_shown && m_cursor->currentIndex().isValid())
                m_cursorRow = m_cursor->currentIndex().row(); // emptied
            if (told > 0)
                beginRemoveRows({}, 0, told - 1);
            erase(0, m_removed);
            m_removed = 0;
            m_shown -= told;
            if (told > 0)
                endRemoveRows();
        }
        if (size_t(m_shown) < m_rows.size()) {
            beginInsertRows({}, m_shown, int(m_rows.size()) - 1);
            m_shown = int(m_rows.size());
            endInsertRows();
        }
        // A check box shows a choice from its first row on.
        const int row = m_cursorRow.value_or(m_checkMode && !m_cursor->currentIndex().isValid() ? 0 : -1);
        if (row >= 0 && m_shown > 0) {
            m_cursorRow.reset();
            m_cursor->setCurrentIndex(index(qMin(row, m_shown - 1)), QItemSelectionModel::ClearAndSelect);
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
    struct Row
    {
        uint32_t start; // in m_text
        ZListBoxItem::LineCounts lines;
        int16_t icon; // in m_icons, or -1
    };

    uint32_t end(size_t row) const { return row + 1 < m_rows.size() ? m_rows[row + 1].start : uint32_t(m_text.size()); }
    std::string_view text(size_t row) const
    {
        return std::string_view(m_text).substr(m_rows[row].start, end(row) - m_rows[row].start);
    }

    // Rows [first, last) of m_rows.
    void erase(size_t first, size_t last)
    {
        const uint32_t start = m_rows[first].start;
        const uint32_t length = (last < m_rows.size() ? m_rows[last].start : uint32_t(m_text.size())) - start;
        m_text.erase(start, length);
        m_rows.erase(m_rows.begin() + std::ptrdiff_t(first), m_rows.begin() + std::ptrdiff_t(last));
        for (size_t row = first; row < m_rows.size(); ++row)
            m_rows[row].start -= length;
    }

    void store(size_t at, const ZListBoxItem &item)
    {
        const std::string &text = item.utf8();
        const uint32_t start = at < m_rows.size() ? m_rows[at].start : uint32_t(m_text.size());
        m_text.insert(start, text);
        for (size_t row = at; row < m_rows.size(); ++row)
            m_rows[row].start += uint32_t(text.size());
        m_rows.insert(m_rows.begin() + std::ptrdiff_t(at), Row{start, item.lineCounts(), icon(item.pixmap())});
    }

    int16_t icon(const QPixmap &pixmap)
    {
        if (pixmap.isNull())
            return -1;
        const auto same = [&pixmap](const QPixmap &icon) { return icon.cacheKey() == pixmap.cacheKey(); };
        auto found = std::find_if(m_icons.begin(), m_icons.end(), same);
        if (found == m_icons.end()) {
            if (m_icons.size() > size_t(std::numeric_limits<int16_t>::max()))
                return -1;
            found = m_icons.insert(m_icons.end(), pixmap);
        }
        return int16_t(found - m_icons.begin());
    }

    std::string m_text;
    std::vector<Row> m_rows;
    std::vector<QPixmap> m_icons; // those this box's rows show since it was last emptied
    int m_shown = 0; // the rows the view knows of: the first ones
    size_t m_removed = 0; // the first rows, removed
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

void ZListBox::changing()
{
    // Told at the latest when the event loop runs again.
    if (!m_rows->changing())
        QTimer::singleShot(0, this, [this] { showChanges(); });
}

void ZListBox::insertItem(ZListBoxItem *item, int index, bool /*autoHighlight*/)
{
    const std::unique_ptr<ZListBoxItem> taken(item);
    if (index >= 0 && index < count()) {
        m_rows->insert(size_t(index), *taken);
        return;
    }
    changing();
    m_rows->append(*taken);
}

void ZListBox::removeItem(int index)
{
    if (index < 0 || index >= count())
        return;
    if (index == 0)
        changing();
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
    m_item = index >= 0 && index < count() ? m_rows->item(size_t(index)) : nullptr;
    return m_item.get();
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

QRect ZListBox::itemRect(int index) const
{
    showChanges();
    return visualRect(m_rows->index(index));
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
