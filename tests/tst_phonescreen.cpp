// The window on a phone: Weston's headless compositor as a 360x720 screen at scale 2, and
// Qt's Wayland platform, as on a Linux phone.

#include "app/zgui.h"
#include "ezx/zglobal.h"
#include "ezx/zlistbox.h"
#include "ezx/zoptionsmenu.h"
#include "ezx/zsoftkey.h"
#include "guitest.h"
#include "tests/sessionrig.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QLineEdit>
#include <QMenu>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace guitest;

namespace {

constexpr QSize kScreen(360, 720);
constexpr int kTouch = 44;

// The sizes of what a finger presses in `widget`: buttons, fields, tabs, and the rows of
// its lists.
QList<QSize> touchTargets(const QWidget &widget)
{
    QList<QSize> sizes;
    for (const auto *button : widget.findChildren<QAbstractButton *>()) {
        if (button->isVisibleTo(&widget) && !button->text().isEmpty())
            sizes.append(button->size());
    }
    for (const auto *field : widget.findChildren<QLineEdit *>())
        sizes.append(field->size());
    for (const auto *tabs : widget.findChildren<QTabBar *>()) {
        for (int tab = 0; tab < tabs->count(); ++tab)
            sizes.append(tabs->tabRect(tab).size());
    }
    for (const auto *menu : widget.findChildren<QMenu *>()) {
        for (QAction *row : menu->actions()) {
            if (menu->isVisibleTo(&widget) && !row->isSeparator())
                sizes.append(menu->actionGeometry(row).size());
        }
    }
    QList<const QAbstractItemView *> lists;
    for (const auto *list : widget.findChildren<QAbstractItemView *>())
        lists.append(list);
    if (const auto *list = qobject_cast<const QAbstractItemView *>(&widget))
        lists.append(list);
    for (const auto *list : lists) {
        if (!list->isVisibleTo(&widget) || list->model()->rowCount() == 0)
            continue;
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            const QModelIndex index = list->model()->index(row, 0);
            if (index.flags() & Qt::ItemIsEnabled)
                sizes.append(list->visualRect(index).size());
        }
    }
    return sizes;
}

} // namespace

class TestPhoneScreen : public QObject
{
    Q_OBJECT

    static void verifyTouchTargets(const QWidget &widget)
    {
        const QList<QSize> sizes = touchTargets(widget);
        QVERIFY(!sizes.isEmpty());
        for (const QSize &size : sizes)
            QVERIFY2(size.height() >= kTouch && size.width() >= kTouch,
                     qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));
    }

private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QString("wayland")); }

    // Maximized, never fullscreen over the shell's bars.
    void fillsTheRoomTheShellGives()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        // The screen, or below Weston's panel once that is up (the phone shell's own bars are
        // tst_phoneshell's).
        QTRY_VERIFY(gui->isMaximized() && gui->width() == kScreen.width());
        QVERIFY(!gui->isFullScreen());
        QCOMPARE(gui->devicePixelRatio(), 2);
        const auto *softKey = gui->findChild<ZSoftKey *>();
        QCOMPARE(softKey->geometry().width(), kScreen.width());
        QCOMPARE(softKey->mapTo(gui.get(), QPoint(0, softKey->height())).y(), gui->height());
        const auto *tabs = gui->findChild<QTabWidget *>();
        QCOMPARE(tabs->width(), kScreen.width());
        QCOMPARE(tabs->mapTo(gui.get(), QPoint(0, tabs->height())).y(), softKey->mapTo(gui.get(), QPoint()).y());
        QCOMPARE(box(*gui, "statusBox")->width(), kScreen.width());
    }

    void iconsAreDrawnAtThePixelRatio()
    {
        const QPixmap icon = ZGlobal::loadImage(programDir() + "images/power.png");
        QCOMPARE(icon.devicePixelRatio(), 2.0);
        QCOMPARE(icon.size(), QSize(48, 48));
    }

    // The window's, its menu's and its dialogs': the language dialog's choices, the add
    // dialog's field and keys.
    void touchTargetsAreLargeEnough_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("menuItem"); // -1: the window itself
        QTest::newRow("status tab") << 0 << -1;
        QTest::newRow("status menu") << 0 << -2;
        QTest::newRow("language dialog") << 0 << 0;
        QTest::newRow("add dialog") << 1 << 0;
    }

    void touchTargetsAreLargeEnough()
    {
        QFETCH(int, tab);
        QFETCH(int, menuItem);
        FakeShell shell;
        const auto gui = makeGui(shell);
        QTRY_VERIFY(gui->isMaximized() && gui->width() == kScreen.width());
        showTab(*gui, tab);
        if (menuItem == -1) {
            verifyTouchTargets(*gui);
        } else if (menuItem == -2) {
            QTest::keyClick(gui.get(), Qt::Key_F1);
            QTRY_VERIFY(menu(*gui)->isVisible());
            verifyTouchTargets(*gui); // the menu's rows among the rest
            QTest::keyClick(menu(*gui), Qt::Key_Escape);
        } else {
            bool checked = false;
            onNextDialog([&checked](QWidget *dialog) {
                verifyTouchTargets(*dialog);
                checked = true;
                QTest::keyClick(dialog, Qt::Key_Escape);
            });
            runMenuItem(*gui, menuItem);
            QVERIFY(checked);
        }
        QVERIFY(allDialogsAnswered());
    }
};

// Weston runs for the whole test, on a runtime directory of its own.
int main(int argc, char **argv)
{
    QTemporaryDir runtime;
    testfiles::useAsRuntimeDir(runtime.path());
    qputenv("QT_QPA_PLATFORM", "wayland");
    SessionRig session;
    if (!session.startCompositor("weston",
                                 {"--backend=headless-backend.so", "--width=360", "--height=720", "--scale=2",
                                  "--socket=callvane-test", "--idle-time=0"},
                                 runtime.filePath("weston.log"), "callvane-test")) {
        std::fprintf(stderr, "%s\n", qPrintable(session.error()));
        return 1;
    }
    TestPhoneScreen test;
    return guitest::run(&test, argc, argv);
}
#include "tst_phonescreen.moc"
