#pragma once

#include <QMenu>
#include <QPixmap>

// A soft key's options menu: rows of icon and text, and separators, shown inside the window
// above the soft-key bar: a child of the window, not a popup the shell would place. QMenu's
// own keys (Up and Down skip separators and wrap around, Enter runs, Escape closes), clicks
// and screen-reader roles. Rows are named by the ids given to insertItem().
class ZOptionsMenu : public QMenu
{
    Q_OBJECT
public:
    ZOptionsMenu(const QRect &rect, QWidget *parent, const char *name, unsigned int flags, int widgetClass);

    int insertItem(const QString &text, ZOptionsMenu *subMenu, const QPixmap &icon, bool enabled = true, int id = -1,
                   int index = -1, bool = false, bool = false, bool = false);
    void insertSeparator(int id = -1, int index = -1);
    bool connectItem(int id, const QObject *receiver, const char *member);
    void setItemSpacing(int spacing);
    QString itemText(int id) const;
    // Closes the menu and runs the row under the cursor.
    void activateCurrent();

signals:
    void shown();
    void hidden();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QAction *action(int id) const;
    void insertAt(QAction *row, int id, int index);

    int m_spacing = 0;
};
