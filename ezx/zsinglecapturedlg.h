#pragma once

#include "ezx/zpopup.h"

class QGridLayout;
class QLabel;
class QPushButton;
class ZLineEdit;

// Asks for one line of text: a prompt, a field that has the focus and a dialer's keys below it.
// Enter or OK accepts, Escape or Cancel cancels.
class ZSingleCaptureDlg : public ZPopup
{
    Q_OBJECT
public:
    enum CaptureDlgType { TypeLineEdit = 0 };

    ZSingleCaptureDlg(const QString &title, const QString &prompt, CaptureDlgType type, QWidget *parent,
                      const char *name, bool modal, unsigned int flags, unsigned int flags2);

    ZLineEdit *getLineEdit() const { return m_edit; }
    QString prompt() const;

private:
    QGridLayout *makePad();
    void toggleLetters(QPushButton *key);

    QLabel *m_prompt;
    ZLineEdit *m_edit;
};
