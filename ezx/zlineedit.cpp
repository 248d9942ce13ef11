#include "zlineedit.h"

ZLineEdit::ZLineEdit(QWidget *parent)
    : QLineEdit(parent)
{
}
