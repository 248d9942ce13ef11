#include "ezx/zlineedit.h"

#include "ezx/zglobal.h"

ZLineEdit::ZLineEdit(QWidget *parent)
    : QLineEdit(parent)
{
    setMinimumHeight(ZGlobal::kTouchSize);
}
