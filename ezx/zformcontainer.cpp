#include "ezx/zformcontainer.h"

#include "ezx/zglobal.h"
#include "ezx/zsoftkey.h"

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

void ZFormContainer::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    for (QWidget *child : findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow())
            continue;
        const bool bar = qobject_cast<ZSoftKey *>(child) != nullptr;
        child->setGeometry(ZGlobal::mapFromGlobalR(child, bar ? ZGlobal::getCst2a_1R() : ZGlobal::getContentR(false)));
    }
}
