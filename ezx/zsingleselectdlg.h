#pragma once

#include "ezx/zpopup.h"

class QLabel;
class ZListBox;

// A single-choice question. The check is the cursor: it opens on the first row, checked, and
// moves with the keys or a click; Enter, a double click or OK accepts it, Escape or Cancel
// cancels.
class ZSingleSelectDlg : public ZPopup
{
    Q_OBJECT
public:
    ZSingleSelectDlg(const QString &title, const QString &prompt, QWidget *parent, const char *name, bool modal,
                     unsigned int flags, int reserved);

    void addItemsList(const QStringList &items);
    ZListBox *getListBox() const { return m_list; }
    // The checked row, or -1.
    int getCheckedItemIndex() const;

private:
    QLabel *m_prompt;
    ZListBox *m_list;
};
