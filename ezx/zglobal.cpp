#include "ezx/zglobal.h"

#include <QWidget>

namespace {
constexpr int kWidth = 320;
constexpr int kHeight = 480;
constexpr int kHeaderHeight = 30;
constexpr int kSoftKeyHeight = 40;
} // namespace

QRect ZGlobal::getScreenR()
{
    return {0, 0, kWidth, kHeight};
}

QRect ZGlobal::getHeaderR()
{
    return {0, 0, kWidth, kHeaderHeight};
}

QRect ZGlobal::getContentR(bool withSoftKeyArea)
{
    const int bottom = withSoftKeyArea ? kHeight : kHeight - kSoftKeyHeight;
    return {0, kHeaderHeight, kWidth, bottom - kHeaderHeight};
}

QRect ZGlobal::getCst2a_1R()
{
    return {0, kHeight - kSoftKeyHeight, kWidth, kSoftKeyHeight};
}

QRect ZGlobal::mapFromGlobalR(const QWidget *widget, const QRect &rect)
{
    const QWidget *parent = widget->parentWidget();
    if (parent == nullptr)
        return rect;
    return rect.translated(-parent->mapTo(parent->window(), QPoint(0, 0)));
}

void ZGlobal::setBarLook(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor(0x1d, 0x35, 0x57));
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::ButtonText, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    QFont font = widget->font();
    font.setBold(true);
    widget->setFont(font);
}
