#pragma once

#include <QColor>
#include <QPalette>

// A dark theme's colours, as Adwaita-Dark has them, for rendering the window in the dark.
inline QPalette darkPalette()
{
    const QColor window(0x35, 0x35, 0x35);
    const QColor base(0x2d, 0x2d, 0x2d);
    const QColor text(0xee, 0xee, 0xec);
    QPalette palette(text, window, window.lighter(130), window.darker(150), window.darker(120), text, Qt::white, base,
                     window);
    palette.setColor(QPalette::Highlight, QColor(0x15, 0x53, 0x9e));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0x98));
    palette.setColor(QPalette::AlternateBase, window);
    return palette;
}
