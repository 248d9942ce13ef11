#pragma once

#include <QColor>
#include <QPixmap>
#include <QRect>
#include <QSize>

class QWidget;

// Screen geometry of the phone. "Global" rectangles are in the coordinates of the main
// window, which covers the whole phone screen: the screen itself where that is phone-sized,
// else a phone-sized window, and they follow the window's size.
class ZGlobal
{
public:
    // The least height (and width) of what a finger presses, in logical pixels.
    static constexpr int kTouchSize = 44;

    // A portrait screen no wider than a large phone's.
    static bool isPhoneScreen();
    // The main window's size, which the rectangles below are of.
    static void setScreenSize(const QSize &size);
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

    // The image of a PNG path as the screen shows it: drawn from the SVG of the same name
    // beside it, where there is one, at the screen's pixel ratio. Where the palette's text is
    // light (a dark theme), its ink (the bars' navy) is in that colour and its white in the
    // base's. Loaded once a path.
    static QPixmap loadImage(const QString &pngPath);
    // `pixmap` in one colour, for an icon on a highlight.
    static QPixmap tinted(const QPixmap &pixmap, const QColor &colour);
};
