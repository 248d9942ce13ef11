#include "ezx/zglobal.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {
// A phone's screen in logical pixels: on a larger one, the window is a phone of this size.
constexpr QSize kPhone(360, 720);
constexpr int kHeaderHeight = 30;
constexpr int kSoftKeyHeight = ZGlobal::kTouchSize + 4;

QSize &screenSize()
{
    static QSize size = ZGlobal::isPhoneScreen() ? QGuiApplication::primaryScreen()->availableSize() : kPhone;
    return size;
}
} // namespace

bool ZGlobal::isPhoneScreen()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return false;
    const QSize available = screen->availableSize();
    return available.width() <= kPhone.width() * 3 / 2 && available.height() > available.width();
}

void ZGlobal::setScreenSize(const QSize &size)
{
    screenSize() = size;
}

QRect ZGlobal::getScreenR()
{
    return {QPoint(0, 0), screenSize()};
}

QRect ZGlobal::getHeaderR()
{
    return {0, 0, screenSize().width(), kHeaderHeight};
}

QRect ZGlobal::getContentR(bool withSoftKeyArea)
{
    const int height = screenSize().height();
    const int bottom = withSoftKeyArea ? height : height - kSoftKeyHeight;
    return {0, kHeaderHeight, screenSize().width(), bottom - kHeaderHeight};
}

QRect ZGlobal::getCst2a_1R()
{
    return {0, screenSize().height() - kSoftKeyHeight, screenSize().width(), kSoftKeyHeight};
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
