#pragma once

#include <QListView>

class ZListBoxItem;
class ZListBoxRows;

// A list of ZListBoxItem rows with a cursor (the current item). Enter or a click (a tap) on a
// row emits returnPressed(); Left and Right are left to the parent (tab changes).
//
// In check mode (used by single-choice dialogs) the check is the cursor: the first row is
// checked as soon as there is one, exactly one row is checked from then on, and whatever
// moves the cursor (keys, a click) moves the check. There a click only checks; Enter or a
// double click emits returnPressed().
//
// item() is valid until the rows change. Emptied by clear() and filled again, the cursor
// stays on the row it was on, as far as the rows reach.
class ZListBox : public QListView
{
    Q_OBJECT
public:
    ZListBox(const QString &layout, QWidget *parent, unsigned int flags = 0, int widgetClass = 0);
    ~ZListBox() override;

    // Takes `item` over.
    void insertItem(ZListBoxItem *item, int index = -1, bool autoHighlight = true);
    void removeItem(int index);
    void clear();
    int count() const;
    ZListBoxItem *item(int index) const;
    // The current row, or -1.
    int currentItem() const;
    void setCurrentRow(int row);

    void setCheckMode(bool on);
    bool itemChecked(int index) const;
    // The checked row, or -1.
    int checkedItem() const;

    // The height at which every row shows and no scroll bar.
    int fittingHeight() const;

signals:
    void returnPressed(ZListBoxItem *item);

protected:
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Tells the view of the rows appended since it was last told.
    void showChanges() const;

    ZListBoxRows *m_rows = nullptr;
    bool m_checkMode = false;
};
