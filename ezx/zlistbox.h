#pragma once

#include <QListWidget>

class ZListBoxItem;

// A list of ZListBoxItem rows with a cursor (the current item). Enter or a click (a tap) on a
// row emits returnPressed(); Left and Right are left to the parent (tab changes).
//
// In check mode (used by single-choice dialogs) the check is the cursor: the first row is
// checked as soon as there is one, exactly one row is checked from then on, and whatever
// moves the cursor (keys, a click) moves the check. There a click only checks; Enter or a
// double click emits returnPressed().
class ZListBox : public QListWidget
{
    Q_OBJECT
public:
    ZListBox(const QString &layout, QWidget *parent, unsigned int flags = 0, int widgetClass = 0);

    void insertItem(ZListBoxItem *item, int index = -1, bool autoHighlight = true);
    void removeItem(int index);
    // The current row, or -1.
    int currentItem() const;
    ZListBoxItem *item(int index) const;

    void setCheckMode(bool on);
    bool itemChecked(int index) const;
    // The checked row, or -1.
    int checkedItem() const;

    // The height at which `list` shows all its rows and no scroll bar.
    static int fittingHeight(const QListWidget *list);

signals:
    void returnPressed(ZListBoxItem *item);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void checkCurrent();

    bool m_checkMode = false;
};
