#pragma once

#include <QListWidget>
#include <QMap>
#include <QPixmap>

class QAction;
class ZOptionsMenuAccessible;
class ZOptionsMenuItemAccessible;

// A soft key's options menu: rows of icon and text, and separators, shown inside the window
// above the soft-key bar. Up and Down move (skipping separators, wrapping around), Enter or
// a click runs the row, Escape closes. Each row's action is connected with connectItem().
class ZOptionsMenu : public QListWidget
{
    Q_OBJECT
public:
    ZOptionsMenu(const QRect &rect, QWidget *parent, const char *name, unsigned int flags, int widgetClass);

    int insertItem(const QString &text, ZOptionsMenu *subMenu, const QPixmap &icon, bool enabled = true, int id = -1,
                   int index = -1, bool = false, bool = false, bool = false);
    void insertSeparator(int id = -1, int index = -1);
    bool connectItem(int id, const QObject *receiver, const char *member);
    void setItemSpacing(int spacing);

    // The ids of the rows in order (a separator counts), and their texts.
    QList<int> itemIds() const;
    QString itemText(int id) const;
    bool isSeparator(int id) const;
    // Closes the menu and runs the row's action.
    void activateItem(int id);
    void activateCurrent();
    // The height at which every row shows and no scroll bar (separators are lower).
    int fittingHeight() const;

signals:
    void shown();
    void hidden();

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    friend class ZOptionsMenuAccessible;
    friend class ZOptionsMenuItemAccessible;

    void addRow(QListWidgetItem *row, int id, int index);
    void stepCursor(int step);
    int rowOf(int id) const;
    int idOf(const QObject *action) const;
    int rowHeight() const;

    QMap<int, QAction *> m_actions;
    int m_spacing = 0;
};
