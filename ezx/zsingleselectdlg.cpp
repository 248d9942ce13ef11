#include "ezx/zsingleselectdlg.h"

#include "ezx/zglobal.h"
#include "ezx/zlistbox.h"
#include "ezx/zlistboxitem.h"

#include <QLabel>
#include <QVBoxLayout>

ZSingleSelectDlg::ZSingleSelectDlg(const QString &title, const QString &prompt, QWidget *parent, const char *name,
                                   bool modal, unsigned int flags, int /*reserved*/)
    : ZPopup(parent, name, modal, flags)
    , m_prompt(new QLabel(prompt, this))
    , m_list(new ZListBox(QStringLiteral("%M"), this))
{
    setTitle(title);
    m_prompt->setVisible(!prompt.isEmpty());
    m_list->setObjectName(QStringLiteral("choices"));
    m_list->setAccessibleName(prompt.isEmpty() ? title : prompt);
    m_list->setCheckMode(true);
    contentLayout()->addWidget(m_prompt);
    contentLayout()->addWidget(m_list);
    connect(m_list, &ZListBox::returnPressed, this, &QDialog::accept);
    m_list->setFocus();
}

void ZSingleSelectDlg::addItemsList(const QStringList &items)
{
    for (const QString &text : items) {
        auto *row = new ZListBoxItem(m_list, QStringLiteral("%M"));
        row->appendSubItem(1, text);
        m_list->insertItem(row);
    }
    // As tall as its rows, up to what the screen allows.
    m_list->setFixedHeight(qMin(m_list->fittingHeight(), ZGlobal::getContentR(false).height() - 80));
}

int ZSingleSelectDlg::getCheckedItemIndex() const
{
    return m_list->checkedItem();
}
