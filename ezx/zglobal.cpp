#include "ezx/zglobal.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QWidget>

namespace {
// A phone's screen in logical pixels: on a larger one, the window is a phone of this size.
constexpr QSize kPhone(360, 720);
constexpr int kHeaderHeight = 30;
constexpr int kSoftKeyHeight = ZGlobal::kTouchSize + 4;
// The platform's ink: the bars, and the strokes of its icons.
constexpr QColor kInk(0x1d, 0x35, 0x57);
constexpr int kIconSize = 24;

// A dark theme's text is lighter than its base.
bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Text).lightness() > palette.color(QPalette::Base).lightness();
}

QImage render(const QString &pngPath, qreal ratio)
{
    const QString svg = pngPath.left(pngPath.size() - 4) + QStringLiteral(".svg");
    QSvgRenderer renderer;
    if (!pngPath.endsWith(QLatin1String(".png")) || !QFile::exists(svg) || !renderer.load(svg))
        return QImage(pngPath).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage image(QSize(kIconSize, kIconSize) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    image.setDevicePixelRatio(ratio);
    return image;
}

// The ink's pixels, and the edges blended from them, in `ink`; the white of the paper in
// `paper`.
void reink(QImage &image, const QColor &ink, const QColor &paper)
{
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(line[x]);
            if (alpha == 0)
                continue;
            const QColor pixel = QColor::fromRgba(qUnpremultiply(line[x]));
            const auto near = [&pixel](const QColor &colour) {
                return qAbs(pixel.red() - colour.red()) + qAbs(pixel.green() - colour.green())
                    + qAbs(pixel.blue() - colour.blue())
                    < 24;
            };
            const QColor *to = near(kInk) ? &ink : near(Qt::white) ? &paper : nullptr;
            if (to != nullptr)
                line[x] = qPremultiply(qRgba(to->red(), to->green(), to->blue(), alpha));
        }
    }
}

// On a desktop, a phone's size as far as the screen has room for it below a title bar: a
// screen 600 pixels high would hide the soft keys.
QSize &screenSize()
{
    constexpr int kTitleBar = 40;
    const QScreen *screen = QGuiApplication::primaryScreen();
    static QSize size = ZGlobal::isPhoneScreen() ? screen->availableSize()
        : screen != nullptr                      ? kPhone.boundedTo(screen->availableSize() - QSize(0, kTitleBar))
                                                 : kPhone;
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
    palette.setColor(QPalette::Window, kInk);
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::ButtonText, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    QFont font = widget->font();
    font.setBold(true);
    widget->setFont(font);
}

QPixmap ZGlobal::loadImage(const QString &pngPath)
{
    static QHash<QString, QPixmap> loaded;
    const QPalette palette = QGuiApplication::palette();
    const bool dark = isDark(palette);
    const QString key = pngPath + (dark ? palette.color(QPalette::Text).name() : QString());
    if (const auto found = loaded.constFind(key); found != loaded.constEnd())
        return *found;
    const QScreen *screen = QGuiApplication::primaryScreen();
    QImage image = render(pngPath, screen != nullptr ? screen->devicePixelRatio() : 1.0);
    if (dark)
        reink(image, palette.color(QPalette::Text), palette.color(QPalette::Base));
    return loaded[key] = QPixmap::fromImage(image);
}

QPixmap ZGlobal::tinted(const QPixmap &pixmap, const QColor &colour)
{
    QPixmap out = pixmap;
    QPainter painter(&out);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(out.rect(), colour);
    return out;
}
