#pragma once

#include <QPointer>
#include <QWidget>

class QPushButton;
class ZOptionsMenu;

// The two-key bar at the bottom of the screen. Key 0 opens the attached options menu; while
// the menu is shown key 0 runs the current row and key 1 closes the menu, and the keys carry
// the labels set for that state. Otherwise key 1 runs its clicked slot. F1 and F2 press the
// keys from the keyboard (see ZKbMainWidget).
class ZSoftKey : public QWidget
{
    Q_OBJECT
public:
    ZSoftKey(const char *style, QWidget *parent, QObject *owner);

    void setOptMenu(int key, ZOptionsMenu *menu);
    ZOptionsMenu *optMenu(int key) const;
    void setText(int key, const QString &text, int priority = 0);
    // The label shown now.
    QString text(int key) const;
    void setTextForOptMenuHide(const QString &text);
    void setTextForOptMenuShow(const QString &left, const QString &right);
    void setClickedSlot(int key, const QObject *receiver, const char *slot);

    void pressKey(int key);

signals:
    void key0Clicked();
    void key1Clicked();

private:
    void showMenu();
    void updateLabels();
    bool menuShown() const;

    QPushButton *m_keys[2];
    QString m_texts[2];
    QString m_hideText;
    QString m_showTexts[2];
    QPointer<ZOptionsMenu> m_menu;
    QPointer<QWidget> m_focusBeforeMenu;
};
