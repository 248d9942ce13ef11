#pragma once

#include <QListWidget>

class ZListBoxItem;

// A list of ZListBoxItem rows with a cursor (the current item). Enter or a double click on
// a row emits returnPressed(); Left and Right are left to the parent (tab changes).
//
// In check mode (used by single-choice dialogs) at most one row is checked and the check
// moves with the cursor: the first Down checks the first row, a click checks the row clicked.
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
    void checkItem(int index);
    // The checked row, or -1.
    int checkedItem() const;

    // The height at which `list` shows all its rows and no scroll bar.
    static int fittingHeight(const QListWidget *list);

signals:
    void returnPressed(ZListBoxItem *item);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void moveCheck(int step);

    bool m_checkMode = false;
};
