#include "ezx/zoptionsmenu.h"

#include "ezx/zglobal.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
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

QAccessibleInterface *menuAccessible(const QString & /*className*/, QObject *object);

} // namespace

// Screen readers read the menu as a menu: its rows are menu items, and its separators, which
// no one can choose, are left out.
class ZOptionsMenuAccessible : public QAccessibleWidget
{
public:
    explicit ZOptionsMenuAccessible(ZOptionsMenu *menu)
        : QAccessibleWidget(menu, QAccessible::PopupMenu)
    {
    }

    int childCount() const override { return int(items().size()); }

    QAccessibleInterface *child(int index) const override
    {
        const QList<QAction *> actions = items();
        return index >= 0 && index < actions.size() ? QAccessible::queryAccessibleInterface(actions.at(index))
                                                    : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return int(items().indexOf(qobject_cast<QAction *>(child->object())));
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QListWidgetItem *row = menu()->itemAt(menu()->viewport()->mapFromGlobal(QPoint(x, y)));
        QAction *action = row != nullptr ? menu()->m_actions.value(row->data(kIdRole).toInt()) : nullptr;
        return action != nullptr ? QAccessible::queryAccessibleInterface(action) : nullptr;
    }

private:
    ZOptionsMenu *menu() const { return static_cast<ZOptionsMenu *>(widget()); }

    QList<QAction *> items() const
    {
        QList<QAction *> actions;
        for (int row = 0; row < menu()->count(); ++row) {
            if (!menu()->item(row)->data(kSeparatorRole).toBool())
                actions.append(menu()->m_actions.value(menu()->item(row)->data(kIdRole).toInt()));
        }
        return actions;
    }
};

// A row of the menu, read through the action it runs.
class ZOptionsMenuItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    explicit ZOptionsMenuItemAccessible(QAction *action)
        : m_action(action)
    {
    }

    bool isValid() const override { return row() != nullptr; }
    QObject *object() const override { return m_action; }
    QWindow *window() const override { return menu()->window()->windowHandle(); }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(menu()); }
    QAccessibleInterface *child(int /*index*/) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface * /*child*/) const override { return -1; }
    QAccessibleInterface *childAt(int /*x*/, int /*y*/) const override { return nullptr; }
    void setText(QAccessible::Text /*t*/, const QString & /*text*/) override { }
    QAccessible::Role role() const override { return QAccessible::MenuItem; }

    QString text(QAccessible::Text t) const override
    {
        const QListWidgetItem *shown = row();
        return shown != nullptr && t == QAccessible::Name ? shown->text() : QString();
    }

    QRect rect() const override
    {
        const QListWidgetItem *shown = row();
        if (shown == nullptr)
            return {};
        const QRect area = menu()->visualItemRect(shown);
        return {menu()->viewport()->mapToGlobal(area.topLeft()), area.size()};
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        const QListWidgetItem *shown = row();
        if (shown == nullptr)
            return state;
        state.focusable = true;
        state.disabled = !(shown->flags() & Qt::ItemIsEnabled);
        state.invisible = !menu()->isVisible();
        state.focused = menu()->hasFocus() && menu()->currentItem() == shown;
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    QStringList keyBindingsForAction(const QString & /*name*/) const override { return {}; }

    void doAction(const QString &name) override
    {
        if (name == pressAction() && row() != nullptr)
            menu()->activateItem(menu()->idOf(m_action));
    }

private:
    ZOptionsMenu *menu() const { return static_cast<ZOptionsMenu *>(m_action->parent()); }

    QListWidgetItem *row() const
    {
        const int row = m_action.isNull() ? -1 : menu()->rowOf(menu()->idOf(m_action));
        return row < 0 ? nullptr : menu()->item(row);
    }

    QPointer<QAction> m_action;
};

namespace {

QAccessibleInterface *menuAccessible(const QString & /*className*/, QObject *object)
{
    if (auto *menu = qobject_cast<ZOptionsMenu *>(object))
        return new ZOptionsMenuAccessible(menu);
    auto *action = qobject_cast<QAction *>(object);
    if (action != nullptr && qobject_cast<ZOptionsMenu *>(action->parent()) != nullptr)
        return new ZOptionsMenuItemAccessible(action);
    return nullptr;
}

} // namespace

ZOptionsMenu::ZOptionsMenu(const QRect & /*rect*/, QWidget *parent, const char *name, unsigned int /*flags*/,
                           int /*widgetClass*/)
    : QListWidget(parent)
{
    static const bool installed = (QAccessible::installFactory(menuAccessible), true);
    Q_UNUSED(installed)
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

int ZOptionsMenu::idOf(const QObject *action) const
{
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it) {
        if (it.value() == action)
            return it.key();
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

// Not QListView's: it would tell screen readers the row's number counting separators.
void ZOptionsMenu::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QAbstractItemView::currentChanged(current, previous); // NOLINT(bugprone-parent-virtual-call)
    QAction *action = current.isValid() ? m_actions.value(current.data(kIdRole).toInt()) : nullptr;
    if (action != nullptr && hasFocus() && QAccessible::isActive()) {
        QAccessibleEvent event(action, QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}

// Not QListView's, for the same reason; the cursor's row is the one a screen reader follows.
void ZOptionsMenu::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QAbstractItemView::selectionChanged(selected, deselected); // NOLINT(bugprone-parent-virtual-call)
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
    setFocus(Qt::PopupFocusReason); // first, so that the first row is announced
    setCurrentRow(-1);
    stepCursor(1);
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
