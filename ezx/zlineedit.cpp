#include "ezx/zlineedit.h"

ZLineEdit::ZLineEdit(QWidget *parent)
    : QLineEdit(parent)
{
}
