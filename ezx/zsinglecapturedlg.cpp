#include "ezx/zsinglecapturedlg.h"

#include "ezx/zlineedit.h"

#include <QLabel>
#include <QVBoxLayout>

ZSingleCaptureDlg::ZSingleCaptureDlg(const QString &title, const QString &prompt, CaptureDlgType type, QWidget *parent,
                                     const char *name, bool modal, unsigned int flags, unsigned int /*flags2*/)
    : ZPopup(parent, name, modal, flags)
    , m_prompt(new QLabel(prompt, this))
    , m_edit(new ZLineEdit(this))
{
    setTitle(title);
    m_prompt->setObjectName(QStringLiteral("prompt"));
    m_prompt->setWordWrap(true);
    m_edit->setObjectName(QStringLiteral("edit"));
    m_edit->setAccessibleName(prompt.isEmpty() ? title : prompt);
    if (type == TypePassword)
        m_edit->setEchoMode(QLineEdit::Password);
    contentLayout()->addWidget(m_prompt);
    contentLayout()->addWidget(m_edit);
    connect(m_edit, &QLineEdit::returnPressed, this, &QDialog::accept);
    m_edit->setFocus();
}

QString ZSingleCaptureDlg::prompt() const
{
    return m_prompt->text();
}
