#include "ezx/zoptionsmenu.h"

#include "ezx/zglobal.h"

#include <QKeyEvent>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

#include <algorithm>

namespace {

constexpr int kIconSize = 20;

// Rows a finger can press; separators stay thin.
class MenuStyle : public QProxyStyle
{
public:
    explicit MenuStyle(const int *spacing)
        : m_spacing(spacing)
    {
    }

    QSize sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                           const QWidget *widget) const override
    {
        QSize fitted = QProxyStyle::sizeFromContents(type, option, size, widget);
        const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
        if (type == CT_MenuItem && item != nullptr && item->menuItemType != QStyleOptionMenuItem::Separator)
            fitted.setHeight(qMax(kIconSize + 6 + *m_spacing, ZGlobal::kTouchSize));
        return fitted;
    }

    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        return metric == PM_SmallIconSize ? kIconSize : QProxyStyle::pixelMetric(metric, option, widget);
    }

private:
    const int *m_spacing;
};

} // namespace

ZOptionsMenu::ZOptionsMenu(const QRect & /*rect*/, QWidget *parent, const char *name, unsigned int /*flags*/,
                           int /*widgetClass*/)
    : QMenu(parent)
{
    setWindowFlags(Qt::Widget);
    setFocusPolicy(Qt::StrongFocus);
    auto *style = new MenuStyle(&m_spacing);
    style->setParent(this);
    setStyle(style);
    if (name != nullptr)
        setObjectName(QString::fromLatin1(name));
    hide();
}

QAction *ZOptionsMenu::action(int id) const
{
    const QList<QAction *> rows = actions();
    const auto found = std::find_if(rows.cbegin(), rows.cend(), [id](QAction *row) { return row->data() == id; });
    return found == rows.cend() ? nullptr : *found;
}

void ZOptionsMenu::insertAt(QAction *row, int id, int index)
{
    delete action(id);
    const QList<QAction *> rows = actions();
    row->setData(id < 0 ? int(rows.size()) : id);
    insertAction(index >= 0 && index < rows.size() ? rows.at(index) : nullptr, row);
}

int ZOptionsMenu::insertItem(const QString &text, ZOptionsMenu * /*subMenu*/, const QPixmap &icon, bool enabled, int id,
                             int index, bool, bool, bool)
{
    QIcon rowIcon(icon);
    if (!icon.isNull())
        rowIcon.addPixmap(ZGlobal::tinted(icon, palette().color(QPalette::HighlightedText)), QIcon::Active);
    auto *row = new QAction(rowIcon, text, this);
    row->setEnabled(enabled);
    insertAt(row, id, index);
    return row->data().toInt();
}

void ZOptionsMenu::insertSeparator(int id, int index)
{
    auto *row = new QAction(this);
    row->setSeparator(true);
    insertAt(row, id, index);
}

bool ZOptionsMenu::connectItem(int id, const QObject *receiver, const char *member)
{
    QAction *row = action(id);
    return row != nullptr && connect(row, SIGNAL(triggered()), receiver, member);
}

void ZOptionsMenu::setItemSpacing(int spacing)
{
    m_spacing = spacing;
    updateGeometry();
}

QString ZOptionsMenu::itemText(int id) const
{
    const QAction *row = action(id);
    return row == nullptr ? QString() : row->text();
}

void ZOptionsMenu::activateCurrent()
{
    QAction *row = activeAction();
    hide();
    if (row != nullptr && row->isEnabled())
        row->trigger();
}

// QMenu closes only a popup as it runs a row; this one is a child. The soft keys (F1, F2)
// are the window's, whatever has the focus.
void ZOptionsMenu::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down: QMenu::keyPressEvent(event); break;
    case Qt::Key_Return:
    case Qt::Key_Enter: activateCurrent(); break;
    case Qt::Key_Escape: hide(); break;
    default: event->ignore();
    }
}

void ZOptionsMenu::mouseReleaseEvent(QMouseEvent *event)
{
    if (QAction *row = actionAt(event->pos()); row != nullptr && row == activeAction())
        activateCurrent();
}

void ZOptionsMenu::showEvent(QShowEvent *event)
{
    QMenu::showEvent(event);
    setFocus(Qt::PopupFocusReason); // first, so that the first row is announced
    const QList<QAction *> rows = actions();
    const auto first = std::find_if(rows.cbegin(), rows.cend(),
                                    [](const QAction *row) { return !row->isSeparator() && row->isEnabled(); });
    setActiveAction(first == rows.cend() ? nullptr : *first);
    emit shown();
}

void ZOptionsMenu::hideEvent(QHideEvent *event)
{
    QMenu::hideEvent(event);
    emit hidden();
}
