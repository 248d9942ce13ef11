#include "ezx/zsinglecapturedlg.h"

#include "ezx/zglobal.h"
#include "ezx/zlineedit.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr Qt::InputMethodHints kDialable = Qt::ImhDialableCharactersOnly;
constexpr Qt::InputMethodHints kLetters = Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText;
} // namespace

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
    // Numbers are what a phone asks for most: a screen keyboard offers its dialer (squeekboard
    // reads this as the phone purpose), and the pad's letters key trades it for letters.
    m_edit->setInputMethodHints(kDialable);
    contentLayout()->addWidget(m_prompt);
    contentLayout()->addWidget(m_edit);
    contentLayout()->addLayout(makePad());
    connect(m_edit, &QLineEdit::returnPressed, this, &QDialog::accept);
    m_edit->setFocus();
}

// A dialer's keys, for a touch screen whose keyboard does not come up for Qt's fields (Phosh
// with Qt before 6.7). They type into the field and never take its focus. The last row's
// middle key switches the screen keyboard between its dialer and its letters ("Mu*").
QGridLayout *ZSingleCaptureDlg::makePad()
{
    auto *pad = new QGridLayout;
    pad->setSpacing(4);
    const QString keys = QStringLiteral("123456789*0#+");
    const int count = int(keys.size());
    const auto addKey = [this, pad](const QString &text, const QString &name, int at) {
        auto *key = new QPushButton(text, this);
        key->setObjectName(name);
        key->setFocusPolicy(Qt::NoFocus);
        key->setAutoDefault(false);
        key->setMinimumSize(ZGlobal::kTouchSize, ZGlobal::kTouchSize);
        pad->addWidget(key, at / 3, at % 3);
        return key;
    };
    for (int i = 0; i < count; ++i) {
        connect(addKey(keys[i], QStringLiteral("pad") + keys[i], i), &QPushButton::clicked, m_edit,
                [this, typed = keys[i]] { m_edit->insert(typed); });
    }
    QPushButton *letters = addKey(QStringLiteral("abc"), QStringLiteral("padLetters"), count);
    letters->setAccessibleName(tr("Letters"));
    connect(letters, &QPushButton::clicked, this, [this, letters] { toggleLetters(letters); });
    QPushButton *erase = addKey(QStringLiteral("\u232b"), QStringLiteral("padErase"), count + 1);
    erase->setAccessibleName(tr("Erase"));
    connect(erase, &QPushButton::clicked, m_edit, &QLineEdit::backspace);
    return pad;
}

void ZSingleCaptureDlg::toggleLetters(QPushButton *key)
{
    const bool toLetters = m_edit->inputMethodHints() == kDialable;
    m_edit->setInputMethodHints(toLetters ? kLetters : kDialable);
    key->setText(toLetters ? QStringLiteral("123") : QStringLiteral("abc"));
    key->setAccessibleName(toLetters ? tr("Digits") : tr("Letters"));
    m_edit->clearFocus();
    m_edit->setFocus();
}

QString ZSingleCaptureDlg::prompt() const
{
    return m_prompt->text();
}
