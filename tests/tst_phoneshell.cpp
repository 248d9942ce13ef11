// The window in the phone's own shell, on a private session bus with Qt's Wayland platform:
// Phosh (phoc on its X11 backend inside Xvfb as a 720x1440 screen at scale 2, phosh and
// squeekboard) or, with CALLVANE_SHELL=plasma-mobile, Plasma Mobile (kwin_wayland on the same
// screen and plasmashell's mobile shell). Touches are real pointer presses through the
// compositor; the screen is read back from Xvfb.

#include "app/zgui.h"
#include "ezx/zlistbox.h"
#include "ezx/zoptionsmenu.h"
#include "ezx/zsoftkey.h"
#include "guitest.h"
#include "tests/sessionrig.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QVersionNumber>
#include <QWindow>
#include <QtEndian>

using namespace guitest;

namespace {

constexpr int kScale = 2;
const QColor kInk(0x1d, 0x35, 0x57); // the window's bars
QString g_unavailable; // why the shell could not start
bool g_plasma = false; // Plasma Mobile, not Phosh
QString g_screenFile; // Xvfb's screen, as an XWD file it keeps current

QImage screen()
{
    QFile file(g_screenFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray xwd = file.readAll();
    const auto field = [&xwd](int index) { return qFromBigEndian<quint32>(xwd.constData() + 4 * index); };
    // The header's size, the picture's width and height, its line length and colour count.
    const qsizetype start = field(0) + field(19) * 12;
    const QImage shot(reinterpret_cast<const uchar *>(xwd.constData() + start), int(field(4)), int(field(5)),
                      int(field(12)), QImage::Format_RGB32);
    return shot.copy();
}

bool isInk(QRgb pixel)
{
    return qAbs(qRed(pixel) - kInk.red()) + qAbs(qGreen(pixel) - kInk.green()) + qAbs(qBlue(pixel) - kInk.blue()) < 12;
}

// The rows of the screen where the window's own bars begin and end: its header under the
// shell's top bar, its soft keys above the shell's home bar.
QPair<int, int> windowBars(const QImage &shot)
{
    int top = 0;
    while (top < shot.height() && !isInk(shot.pixel(shot.width() / 2, top)))
        ++top;
    if (top == shot.height())
        return {-1, -1};
    int bottom = shot.height() - 1;
    while (bottom > top && !isInk(shot.pixel(8, bottom)))
        --bottom;
    return {top, bottom};
}

// A finger on the screen at `at` (device pixels), through the compositor.
void tapScreen(QPoint at)
{
    QCOMPARE(
        QProcess::execute("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"}), 0);
    QTest::qWait(150);
}

// A finger on `widget` (at `point`, else its middle); the window's top is at screen row `top`.
void tap(const QWidget *widget, int top, QPoint point = {-1, -1})
{
    QVERIFY(widget != nullptr);
    if (point.x() < 0)
        point = widget->rect().center();
    tapScreen(widget->mapTo(widget->window(), point) * kScale + QPoint(0, top));
}

// squeekboard's rows as it lays them out at this width, four rows from its top row down: its
// dialer (the phone purpose), and the top row of its letters.
const QList<QByteArray> kDialer = {"(123)", "#456+", "*789-", " 0   "};
const QList<QByteArray> kLettersTopRow = {"qwertyuiop"};

// The screen row where squeekboard's black begins, that runs to the screen's bottom; -1 while
// it is not up (the shell's home bar, black too, is far lower).
int keyboardTop(const QImage &shot)
{
    int row = shot.height() - 1;
    while (row >= 0 && qGray(shot.pixel(1, row)) < 8)
        --row;
    return row < shot.height() * 3 / 4 ? row + 1 : -1;
}

void tapKeyboard(int keyboardTop, const QList<QByteArray> &rows, char key)
{
    for (int row = 0; row < rows.size(); ++row) {
        const qsizetype column = rows[row].indexOf(key);
        if (column < 0)
            continue;
        const int rowHeight = (screen().height() - keyboardTop) / 4;
        const int columnWidth = screen().width() / int(rows[row].size());
        tapScreen({int(column) * columnWidth + columnWidth / 2, keyboardTop + row * rowHeight + rowHeight / 2});
        return;
    }
    QFAIL(qPrintable(QString("no key %1 on the keyboard").arg(key)));
}

} // namespace

class TestPhoneShell : public QObject
{
    Q_OBJECT

    // The window sits between the shell's bars, its own header right below the top bar (no
    // title bar of Qt's drawing), maximized, not fullscreen. `top`: the screen row of its top.
    static void verifyAmongTheBars(ZGui &gui, int &top)
    {
        QString problem;
        const auto among = [&] {
            const QImage shot = screen();
            const QPair<int, int> bars = windowBars(shot);
            top = bars.first;
            // However high the shell's bar below is (Phosh 0.46's home bar: 15 pixels), it is
            // there: Phosh's black, Plasma Mobile's navigation panel light; both top bars dark.
            const bool homeBarBelow = bars.second + 1 < shot.height();
            problem = bars.first < 0                                       ? "no window"
                : qGray(shot.pixel(shot.width() / 2, bars.first - 1)) > 48 ? "no shell's bar right above the window"
                : bars.first > 40 * kScale ? QStringLiteral("the window starts at row %1").arg(bars.first)
                : !homeBarBelow            ? "the window covers the shell's home bar"
                : gui.height() * kScale != bars.second + 1 - bars.first ? "the window is not between its bars"
                : !gui.isMaximized() || gui.isFullScreen()              ? "not maximized"
                                                                        : QString();
            if (!problem.isEmpty())
                shot.save(QDir::temp().filePath("tst_phoneshell.png"));
            return problem.isEmpty();
        };
        QVERIFY2(QTest::qWaitFor(among, 20000),
                 qPrintable(problem + " (the screen: tst_phoneshell.png in the temp dir)"));
    }

private slots:
    void initTestCase()
    {
        if (!g_unavailable.isEmpty())
            QSKIP(qPrintable("The shell cannot run here: " + g_unavailable));
        QCOMPARE(QGuiApplication::platformName(), QString("wayland"));
    }

    // From the black list's menu to a number stored, by touch alone; the window is as it was.
    void aNumberIsAddedByTouch()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        int top = 0;
        verifyAmongTheBars(*gui, top);
        if (QTest::currentTestFailed())
            return;
        const QTabBar *tabs = gui->findChild<QTabBar *>();
        tap(tabs, top, tabs->tabRect(1).center());
        QTRY_COMPARE(tabs->currentIndex(), 1);
        tap(gui->findChild<ZSoftKey *>()->findChild<QPushButton *>("key0"), top);
        QTRY_VERIFY(menu(*gui)->isVisible());
        bool typed = false;
        onNextDialog([&](QWidget *dialog) {
            // Over the window, not a window the shell would lay out as another app.
            QCOMPARE(dialog->window(), gui.get());
            const QLineEdit *field = dialog->findChild<QLineEdit *>("edit");
            // Qt speaks text-input-v3 from 6.7: squeekboard comes up by itself, with its dialer.
            // Plasma Mobile's maliit-keyboard starts and is activated for the field (its log says
            // so), yet its panel never reached the screen in a headless run.
            if (QLibraryInfo::version() < QVersionNumber(6, 7) || g_plasma) {
                if (g_plasma)
                    qInfo("Plasma Mobile's keyboard is not tried (its panel shows on no headless screen); the dialog's "
                          "keys are");
                for (const char key : QByteArray("+34600112233"))
                    tap(dialog->findChild<QPushButton *>(QStringLiteral("pad") + key), top);
            } else {
                int keyboard = -1;
                QVERIFY2(QTest::qWaitFor([&] { return (keyboard = keyboardTop(screen())) > 0; }, 10000),
                         "no screen keyboard came up");
                for (const char key : QByteArray("+34600112233"))
                    tapKeyboard(keyboard, kDialer, key);
                QTRY_COMPARE(field->text(), QString("+34600112233"));
                // Its letters are one key away; the pad's erase key takes back what they typed.
                tap(dialog->findChild<QPushButton *>("padLetters"), top);
                QTest::qWait(1000);
                tapKeyboard(keyboard, kLettersTopRow, 'q');
                QTRY_COMPARE(field->text(), QString("+34600112233q"));
                tap(dialog->findChild<QPushButton *>("padErase"), top);
            }
            QCOMPARE(field->text(), QString("+34600112233"));
            tap(dialog->findChild<QPushButton *>("key0"), top);
            typed = true;
        });
        const ZOptionsMenu *items = menu(*gui);
        tap(items, top, items->actionGeometry(items->actions().at(0)).center());
        QTRY_VERIFY(typed);
        QCOMPARE(storedValue("Blacklist", "Num"), QString("+34600112233"));
        int after = 0;
        verifyAmongTheBars(*gui, after);
        QCOMPARE(after, top);
        // The phone's keys, through the compositor, act where they did before the dialog.
        QCOMPARE(QProcess::execute("xdotool", {"key", "Right"}), 0);
        QTRY_COMPARE(tabs->currentIndex(), 2);
        QVERIFY(allDialogsAnswered());
    }
};

namespace {

// Phosh as phones ship it: phoc at scale 2 with phosh, squeekboard switched on.
QString startPhosh(const QTemporaryDir &runtime, SessionRig &session)
{
    testfiles::writeFile(runtime.filePath("phoc.ini"), "[output:X11-1]\nmode = 720x1440\nscale = 2\n");
    qputenv("XDG_CURRENT_DESKTOP", "Phosh:GNOME");
    if (!session.startCompositor("phoc", {"-C", runtime.filePath("phoc.ini"), "-E", "/usr/libexec/phosh --unlocked"},
                                 runtime.filePath("shell.log")))
        return session.error();
    session.start("squeekboard", {});
    return {};
}

// Plasma Mobile as its session starts it (startplasmamobile): its settings for phones, kwin at
// scale 2 (its windowed backend takes the scale from kscreen), and plasmashell's mobile shell.
QString startPlasmaMobile(const QTemporaryDir &runtime, SessionRig &session)
{
    const QStringList activities = QDir("/usr/lib").entryList({"*"}, QDir::Dirs | QDir::NoDotAndDotDot);
    QString activityManager;
    for (const QString &folder : activities) {
        if (QFile::exists("/usr/lib/" + folder + "/libexec/kactivitymanagerd"))
            activityManager = "/usr/lib/" + folder + "/libexec/kactivitymanagerd";
    }
    if (QStandardPaths::findExecutable("plasmashell").isEmpty() || activityManager.isEmpty())
        return "Plasma Mobile is not installed (Debian 12 has none)";
    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    qputenv("KDE_FULL_SESSION", "true");
    qputenv("PLASMA_PLATFORM", "phone:handset");
    qputenv("QT_QUICK_CONTROLS_MOBILE", "true");
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(runtime.filePath("plasma-mobile")) + ":/etc/xdg");
    // Xvfb has no GPU: kwin paints with QPainter, the shell with Qt Quick's software renderer.
    qputenv("KWIN_COMPOSE", "Q");
    qputenv("QT_QUICK_BACKEND", "software");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (QProcess::execute("plasma-mobile-envmanager", {"--apply-settings"}) != 0)
        return "plasma-mobile-envmanager failed";
    if (!session.startCompositor("kwin_wayland",
                                 {"--x11-display", qgetenv("DISPLAY"), "--width", "720", "--height", "1440"},
                                 runtime.filePath("shell.log")))
        return session.error();
    qputenv("QT_QPA_PLATFORM", "wayland");
    if (QProcess::execute("kscreen-doctor", {"output.X11-0.scale.2"}) != 0)
        return "kscreen-doctor could not set the scale";
    session.start(activityManager, {});
    session.start("plasmashell", {"-p", "org.kde.plasma.mobileshell"});
    return {};
}

} // namespace

// Xvfb, the session bus and the shell run for the whole test.
int main(int argc, char **argv)
{
    QTemporaryDir runtime;
    testfiles::useAsRuntimeDir(runtime.path());
    SessionRig session;
    if (!session.startDisplay("720x1440x24", {"-fbdir", runtime.path()})
        || !session.startBus("DBUS_SESSION_BUS_ADDRESS", "/usr/share/dbus-1/session.conf")) {
        g_unavailable = session.error();
    } else {
        // The screen keyboard switched on, as phones ship it.
        QDir(runtime.path()).mkpath("glib-2.0/settings");
        testfiles::writeFile(runtime.filePath("glib-2.0/settings/keyfile"),
                             "[org/gnome/desktop/a11y/applications]\nscreen-keyboard-enabled=true\n");
        qputenv("XDG_CONFIG_HOME", runtime.path().toLocal8Bit());
        qputenv("GSETTINGS_BACKEND", "keyfile");
        g_screenFile = runtime.filePath("Xvfb_screen0");
        g_plasma = qgetenv("CALLVANE_SHELL") == "plasma-mobile";
        g_unavailable = g_plasma ? startPlasmaMobile(runtime, session) : startPhosh(runtime, session);
        // A window that comes before the shell has drawn its top bar (its clock) stays behind
        // the overview phosh opens with, as an app's card.
        const auto shellDrawn = [] {
            const QImage shot = screen();
            for (int x = 0; !shot.isNull() && x < shot.width(); ++x) {
                for (int y = 0; y < 20 * kScale; y += 2) {
                    if (qGray(shot.pixel(x, y)) > 200)
                        return true;
                }
            }
            return false;
        };
        for (int waited = 0; g_unavailable.isEmpty() && !shellDrawn(); waited += 50) {
            if (waited > 30000)
                g_unavailable = "the shell drew no top bar in 30 s";
            QTest::qSleep(50);
        }
    }
    qputenv("QT_QPA_PLATFORM", g_unavailable.isEmpty() ? "wayland" : "offscreen");
    TestPhoneShell test;
    return guitest::run(&test, argc, argv);
}
#include "tst_phoneshell.moc"
