#pragma once

#include <QLineEdit>

class ZLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit ZLineEdit(QWidget *parent = nullptr);

    void setEdited(bool edited) { setModified(edited); }
};
