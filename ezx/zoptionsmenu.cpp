#include "ezx/zoptionsmenu.h"

#include "ezx/zglobal.h"

#include <QAction>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kSeparatorRole = Qt::UserRole + 2;

class MenuDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (!index.data(kSeparatorRole).toBool()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const int y = option.rect.center().y();
        painter->save();
        painter->setPen(option.palette.color(QPalette::Mid));
        painter->drawLine(option.rect.left() + 6, y, option.rect.right() - 6, y);
        painter->restore();
    }
};

} // namespace

ZOptionsMenu::ZOptionsMenu(const QRect & /*rect*/, QWidget *parent, const char *name, unsigned int /*flags*/,
                           int /*widgetClass*/)
    : QListWidget(parent)
{
    if (name != nullptr)
        setObjectName(QString::fromLatin1(name));
    setItemDelegate(new MenuDelegate(this));
    setIconSize(QSize(20, 20));
    setFrameShape(QFrame::Box);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    hide();
    connect(this, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *row) { activateItem(row->data(kIdRole).toInt()); });
}

void ZOptionsMenu::addRow(QListWidgetItem *row, int id, int index)
{
    row->setData(kIdRole, id);
    QListWidget::insertItem(index < 0 || index > count() ? count() : index, row);
}

int ZOptionsMenu::rowHeight() const
{
    return qMax(iconSize().height() + 6 + m_spacing, ZGlobal::kTouchSize);
}

int ZOptionsMenu::insertItem(const QString &text, ZOptionsMenu * /*subMenu*/, const QPixmap &icon, bool enabled, int id,
                             int index, bool, bool, bool)
{
    if (id < 0)
        id = count();
    QIcon rowIcon(icon);
    if (!icon.isNull())
        rowIcon.addPixmap(ZGlobal::tinted(icon, palette().color(QPalette::HighlightedText)), QIcon::Selected);
    auto *row = new QListWidgetItem(rowIcon, text);
    row->setSizeHint(QSize(0, rowHeight()));
    if (!enabled)
        row->setFlags(row->flags() & ~Qt::ItemIsEnabled);
    addRow(row, id, index);
    delete m_actions.value(id);
    m_actions[id] = new QAction(text, this);
    return id;
}

void ZOptionsMenu::insertSeparator(int id, int index)
{
    auto *row = new QListWidgetItem;
    row->setData(kSeparatorRole, true);
    row->setFlags(Qt::NoItemFlags);
    row->setSizeHint(QSize(0, 7));
    addRow(row, id < 0 ? count() : id, index);
}

bool ZOptionsMenu::connectItem(int id, const QObject *receiver, const char *member)
{
    QAction *action = m_actions.value(id);
    return action != nullptr && connect(action, SIGNAL(triggered()), receiver, member);
}

void ZOptionsMenu::setItemSpacing(int spacing)
{
    m_spacing = spacing;
    for (int i = 0; i < count(); ++i) {
        if (!item(i)->data(kSeparatorRole).toBool())
            item(i)->setSizeHint(QSize(0, rowHeight()));
    }
}

QList<int> ZOptionsMenu::itemIds() const
{
    QList<int> ids;
    for (int i = 0; i < count(); ++i)
        ids.append(item(i)->data(kIdRole).toInt());
    return ids;
}

int ZOptionsMenu::rowOf(int id) const
{
    for (int i = 0; i < count(); ++i) {
        if (item(i)->data(kIdRole).toInt() == id)
            return i;
    }
    return -1;
}

QString ZOptionsMenu::itemText(int id) const
{
    const int row = rowOf(id);
    return row < 0 ? QString() : item(row)->text();
}

bool ZOptionsMenu::isSeparator(int id) const
{
    const int row = rowOf(id);
    return row >= 0 && item(row)->data(kSeparatorRole).toBool();
}

void ZOptionsMenu::activateItem(int id)
{
    const int row = rowOf(id);
    if (row < 0 || !(item(row)->flags() & Qt::ItemIsEnabled))
        return;
    hide();
    if (QAction *action = m_actions.value(id))
        action->trigger();
}

void ZOptionsMenu::activateCurrent()
{
    if (QListWidgetItem *row = currentItem())
        activateItem(row->data(kIdRole).toInt());
}

void ZOptionsMenu::stepCursor(int step)
{
    const int n = count();
    int row = currentRow();
    for (int tries = 0; tries < n; ++tries) {
        row = row < 0 ? (step > 0 ? 0 : n - 1) : (row + step + n) % n;
        if (item(row)->flags() & Qt::ItemIsEnabled) {
            setCurrentRow(row);
            return;
        }
    }
}

void ZOptionsMenu::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up: stepCursor(-1); break;
    case Qt::Key_Down: stepCursor(1); break;
    case Qt::Key_Return:
    case Qt::Key_Enter: activateCurrent(); break;
    case Qt::Key_Escape: hide(); break;
    default: event->ignore();
    }
}

void ZOptionsMenu::showEvent(QShowEvent *event)
{
    QListWidget::showEvent(event);
    setCurrentRow(-1);
    stepCursor(1);
    setFocus(Qt::PopupFocusReason);
    emit shown();
}

void ZOptionsMenu::hideEvent(QHideEvent *event)
{
    QListWidget::hideEvent(event);
    emit hidden();
}

int ZOptionsMenu::fittingHeight() const
{
    int height = 2 * frameWidth();
    for (int row = 0; row < count(); ++row)
        height += sizeHintForRow(row) + 2 * spacing();
    return height;
}
