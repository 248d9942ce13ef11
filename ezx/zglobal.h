#pragma once

#include <QRect>

class QWidget;

// Screen geometry of the phone. "Global" rectangles are in the coordinates of the main
// window, which covers the whole phone screen.
class ZGlobal
{
public:
    static QRect getScreenR();
    static QRect getHeaderR();
    // The area between header and soft keys (true: down to the screen's bottom).
    static QRect getContentR(bool withSoftKeyArea);
    // The soft-key bar of the two-key style.
    static QRect getCst2a_1R();
    // `rect` in the coordinates of `widget`'s parent, ready for setGeometry().
    static QRect mapFromGlobalR(const QWidget *widget, const QRect &rect);
    // The header's and the soft keys' look: bold white text on dark blue. A palette, not a
    // style sheet: one costs the window's start some milliseconds.
    static void setBarLook(QWidget *widget);
};
