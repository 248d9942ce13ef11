#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;

// The keypad main window: a phone screen with a title header and one content widget.
class ZKbMainWidget : public QWidget
{
    Q_OBJECT
public:
    ZKbMainWidget(int headerType, QWidget *parent, const char *name, unsigned int flags);

    void setMainWidgetTitle(const QString &title);
    // The widget takes the whole screen below the header.
    void setContentWidget(QWidget *content);

protected:
    // F1 and F2 press the soft keys.
    void keyPressEvent(QKeyEvent *event) override;
    // The screen is the window: its areas follow the size the screen or compositor gives.
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *m_title;
    QPointer<QWidget> m_content;
};
