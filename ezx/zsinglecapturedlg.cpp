#include "ezx/zsinglecapturedlg.h"

#include "ezx/zglobal.h"
#include "ezx/zlineedit.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ZSingleCaptureDlg::ZSingleCaptureDlg(const QString &title, const QString &prompt, CaptureDlgType /*type*/,
                                     QWidget *parent, const char *name, bool modal, unsigned int flags,
                                     unsigned int /*flags2*/)
    : ZPopup(parent, name, modal, flags)
    , m_prompt(new QLabel(prompt, this))
    , m_edit(new ZLineEdit(this))
{
    setTitle(title);
    m_prompt->setObjectName(QStringLiteral("prompt"));
    m_prompt->setWordWrap(true);
    m_edit->setObjectName(QStringLiteral("edit"));
    m_edit->setAccessibleName(prompt.isEmpty() ? title : prompt);
    // Numbers are what a phone asks for most; an on-screen keyboard that reads the hint offers
    // its digits first, letters still one key away.
    m_edit->setInputMethodHints(Qt::ImhPreferNumbers);
    contentLayout()->addWidget(m_prompt);
    contentLayout()->addWidget(m_edit);
    contentLayout()->addLayout(makePad());
    connect(m_edit, &QLineEdit::returnPressed, this, &QDialog::accept);
    m_edit->setFocus();
}

// A dialer's keys, for a touch screen whose keyboard does not come up for Qt's fields (Phosh
// with Qt before 6.7). They type into the field and never take its focus.
QGridLayout *ZSingleCaptureDlg::makePad()
{
    auto *pad = new QGridLayout;
    pad->setSpacing(4);
    const QString keys = QStringLiteral("123456789*0#+");
    for (int i = 0; i <= keys.size(); ++i) {
        const bool erase = i == keys.size();
        auto *key = new QPushButton(erase ? QStringLiteral("\u232b") : QString(keys[i]), this);
        key->setObjectName(erase ? QStringLiteral("padErase") : QStringLiteral("pad") + keys[i]);
        key->setFocusPolicy(Qt::NoFocus);
        key->setAutoDefault(false);
        key->setMinimumSize(ZGlobal::kTouchSize, ZGlobal::kTouchSize);
        if (erase) {
            key->setAccessibleName(tr("Erase"));
            connect(key, &QPushButton::clicked, m_edit, &QLineEdit::backspace);
            pad->addWidget(key, i / 3, i % 3, 1, 2);
        } else {
            connect(key, &QPushButton::clicked, m_edit, [this, typed = keys[i]] { m_edit->insert(typed); });
            pad->addWidget(key, i / 3, i % 3);
        }
    }
    return pad;
}

QString ZSingleCaptureDlg::prompt() const
{
    return m_prompt->text();
}
