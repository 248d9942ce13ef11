#include "ezx/zmessagedlg.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ZMessageDlg::ZMessageDlg(const QString &title, const QString &text, int type, int /*timeout*/, QWidget *parent,
                         const char *name, bool modal, unsigned int flags)
    : ZPopup(parent, name, modal, flags)
    , m_text(new QLabel(text, this))
{
    setTitle(title);
    m_text->setObjectName(QStringLiteral("text"));
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignCenter);
    contentLayout()->addWidget(m_text);
    button(1)->setVisible(type != TypeOK);
}

QString ZMessageDlg::text() const
{
    return m_text->text();
}
