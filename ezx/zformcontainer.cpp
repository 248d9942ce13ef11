#include "ezx/zformcontainer.h"

ZFormContainer::ZFormContainer(QWidget *parent, unsigned int /*flags*/, int /*widgetClass*/)
    : QWidget(parent)
{
}

void ZFormContainer::addChild(QWidget *child, bool show, QWidget * /*before*/)
{
    if (child->parentWidget() != this)
        child->setParent(this);
    child->setVisible(show);
}
