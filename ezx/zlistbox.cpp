#include "zlistbox.h"

#include "zlistboxitem.h"

#include <QKeyEvent>

ZListBox::ZListBox(const QString & /*layout*/, QWidget *parent, unsigned int /*flags*/, int /*widgetClass*/)
    : QListWidget(parent)
{
    setIconSize(QSize(24, 24));
    setUniformItemSizes(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setSpacing(2);
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        emit returnPressed(static_cast<ZListBoxItem *>(item));
    });
    connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        if (m_checkMode)
            checkItem(row(item));
    });
}

void ZListBox::insertItem(ZListBoxItem *item, int index, bool /*autoHighlight*/)
{
    if (m_checkMode)
        item->setCheckState(Qt::Unchecked);
    QListWidget::insertItem(index < 0 ? count() : index, item);
}

void ZListBox::removeItem(int index)
{
    delete takeItem(index);
}

int ZListBox::currentItem() const
{
    return currentRow();
}

ZListBoxItem *ZListBox::item(int index) const
{
    return static_cast<ZListBoxItem *>(QListWidget::item(index));
}

void ZListBox::setCheckMode(bool on)
{
    m_checkMode = on;
}

bool ZListBox::itemChecked(int index) const
{
    const QListWidgetItem *row = QListWidget::item(index);
    return row != nullptr && row->checkState() == Qt::Checked;
}

void ZListBox::checkItem(int index)
{
    for (int i = 0; i < count(); ++i)
        QListWidget::item(i)->setCheckState(i == index ? Qt::Checked : Qt::Unchecked);
    if (index >= 0 && index < count())
        setCurrentRow(index);
}

int ZListBox::checkedItem() const
{
    for (int i = 0; i < count(); ++i) {
        if (itemChecked(i))
            return i;
    }
    return -1;
}

void ZListBox::moveCheck(int step)
{
    if (count() == 0)
        return;
    const int checked = checkedItem();
    const int target = checked < 0 ? (step > 0 ? 0 : count() - 1) : qBound(0, checked + step, count() - 1);
    checkItem(target);
}

void ZListBox::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        event->ignore();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (QListWidgetItem *current = QListWidget::currentItem())
            emit returnPressed(static_cast<ZListBoxItem *>(current));
        else
            event->ignore(); // a dialog may take Enter as its accept key
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (m_checkMode) {
            moveCheck(event->key() == Qt::Key_Down ? 1 : -1);
            return;
        }
        break;
    default:
        break;
    }
    QListWidget::keyPressEvent(event);
}
