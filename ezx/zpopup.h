#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QVBoxLayout;

// A modal phone dialog: a title, the dialog's own content and a two-key bar (OK, Cancel).
// exec() gives 1 when accepted (OK, Enter, F1) and 0 when cancelled (Cancel, Escape, F2).
class ZPopup : public QDialog
{
    Q_OBJECT
public:
    ZPopup(QWidget *parent, const char *name, bool modal, unsigned int flags);

    void setTitle(const QString &title);
    QString title() const;
    // The labels of the two keys of every dialog made from now on, in the program's language;
    // an empty one leaves the platform's own.
    static void setKeyTexts(const QString &accept, const QString &cancel);

    // Modal over the shown main window, as the platform's popups were: a child of it at its
    // foot, the rest of the window shaded and out of reach, so that a phone's shell sees no
    // second window to lay out as an app. Without a shown main window, a window of its own.
    int exec() override;

protected:
    QVBoxLayout *contentLayout() const { return m_content; }
    QPushButton *button(int key) const { return m_buttons[key]; }
    void keyPressEvent(QKeyEvent *event) override;
    // A window of its own over the phone's screen, not wherever the desktop puts a new window.
    void showEvent(QShowEvent *event) override;
    // Follows the main window's size (an on-screen keyboard shrinks it).
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void place();

    QWidget *m_shade = nullptr;
    QLabel *m_title;
    QVBoxLayout *m_content;
    QPushButton *m_buttons[2];
};
