#include "ezx/zsoftkey.h"

#include "ezx/zglobal.h"
#include "ezx/zoptionsmenu.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPushButton>

ZSoftKey::ZSoftKey(const char * /*style*/, QWidget *parent, QObject * /*owner*/)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    for (int key = 0; key < 2; ++key) {
        m_keys[key] = new QPushButton(this);
        m_keys[key]->setObjectName(QStringLiteral("key%1").arg(key));
        m_keys[key]->setFlat(true);
        m_keys[key]->setFocusPolicy(Qt::NoFocus);
        m_keys[key]->setMinimumSize(2 * ZGlobal::kTouchSize, ZGlobal::kTouchSize);
        connect(m_keys[key], &QPushButton::clicked, this, [this, key] { pressKey(key); });
    }
    layout->addWidget(m_keys[0], 0, Qt::AlignLeft);
    layout->addStretch();
    layout->addWidget(m_keys[1], 0, Qt::AlignRight);
    ZGlobal::setBarLook(this);
}

void ZSoftKey::setOptMenu(int key, ZOptionsMenu *menu)
{
    if (key != 0 || menu == m_menu)
        return;
    if (m_menu) {
        m_menu->disconnect(this);
        m_menu->hide();
    }
    m_menu = menu;
    if (menu != nullptr) {
        connect(menu, &ZOptionsMenu::hidden, this, [this] {
            updateLabels();
            if (m_focusBeforeMenu)
                m_focusBeforeMenu->setFocus(Qt::OtherFocusReason);
        });
        connect(menu, &ZOptionsMenu::shown, this, &ZSoftKey::updateLabels);
    }
    updateLabels();
}

ZOptionsMenu *ZSoftKey::optMenu(int key) const
{
    return key == 0 ? m_menu.data() : nullptr;
}

void ZSoftKey::setText(int key, const QString &text, int /*priority*/)
{
    if (key < 0 || key > 1)
        return;
    m_texts[key] = text;
    updateLabels();
}

QString ZSoftKey::text(int key) const
{
    return key == 0 || key == 1 ? m_keys[key]->text() : QString();
}

void ZSoftKey::setTextForOptMenuHide(const QString &text)
{
    m_hideText = text;
    updateLabels();
}

void ZSoftKey::setTextForOptMenuShow(const QString &left, const QString &right)
{
    m_showTexts[0] = left;
    m_showTexts[1] = right;
    updateLabels();
}

void ZSoftKey::setClickedSlot(int key, const QObject *receiver, const char *slot)
{
    if (key == 0)
        connect(this, SIGNAL(key0Clicked()), receiver, slot, Qt::UniqueConnection);
    else if (key == 1)
        connect(this, SIGNAL(key1Clicked()), receiver, slot, Qt::UniqueConnection);
}

bool ZSoftKey::menuShown() const
{
    return m_menu && m_menu->isVisible();
}

void ZSoftKey::updateLabels()
{
    if (menuShown()) {
        m_keys[0]->setText(m_showTexts[0]);
        m_keys[1]->setText(m_showTexts[1]);
    } else {
        m_keys[0]->setText(m_hideText.isNull() ? m_texts[0] : m_hideText);
        m_keys[1]->setText(m_texts[1]);
    }
    // What a screen reader says, and a hover shows, is what the key says.
    for (QPushButton *key : m_keys) {
        key->setAccessibleName(key->text());
        key->setToolTip(key->text());
    }
}

void ZSoftKey::pressKey(int key)
{
    if (menuShown()) {
        if (key == 0)
            m_menu->activateCurrent();
        else
            m_menu->hide();
        return;
    }
    if (key == 0 && m_menu)
        showMenu();
    else if (key == 0)
        emit key0Clicked();
    else
        emit key1Clicked();
}

void ZSoftKey::showMenu()
{
    QWidget *screen = window();
    m_focusBeforeMenu = QApplication::focusWidget();
    // Shown over the screen, not clipped to the bar.
    if (m_menu->parentWidget() != screen)
        m_menu->setParent(screen);
    m_menu->setMinimumWidth(qMin(220, screen->width())); // the rows' width too
    const QSize size = m_menu->sizeHint();
    const QPoint barTop = mapTo(screen, QPoint(0, 0));
    m_menu->setGeometry(barTop.x(), barTop.y() - size.height(), size.width(), size.height());
    m_menu->raise();
    m_menu->show();
}
