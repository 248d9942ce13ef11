#pragma once

#include "ezx/zpopup.h"

class QLabel;

// A short message. Type 0 (TypeOK) offers OK only; any other type also offers Cancel.
class ZMessageDlg : public ZPopup
{
    Q_OBJECT
public:
    enum MessageDlgType { TypeOK = 0, TypeChoose = 1, TypeConfirm = 2 };

    ZMessageDlg(const QString &title, const QString &text, int type, int timeout, QWidget *parent, const char *name,
                bool modal, unsigned int flags);

    QString text() const;

private:
    QLabel *m_text;
};
