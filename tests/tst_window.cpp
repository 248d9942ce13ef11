#include "app/zgui.h"
#include "ezx/zglobal.h"
#include "ezx/zlistbox.h"
#include "ezx/zlistboxitem.h"
#include "ezx/zmessagedlg.h"
#include "ezx/znavtabwidget.h"
#include "ezx/zoptionsmenu.h"
#include "ezx/zsoftkey.h"
#include "guitest.h"
#include "tests/palettes.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QScopeGuard>
#include <QStyle>

#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <map>
#include <memory>

using namespace guitest;

namespace {

double luminance(const QColor &colour)
{
    const auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

// The colour most of an icon's opaque pixels have, leaving out those of the colour of the
// ground it is drawn on (a white shield on white shows by its outline).
QColor mainColour(const QImage &icon, const QColor &ground)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            const QColor pixel = icon.pixelColor(x, y);
            if (pixel.alpha() >= 200 && contrastRatio(pixel, ground) >= 1.25)
                ++counts[pixel.rgb() & 0xf0f0f0];
        }
    }
    QRgb most = ground.rgb();
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > counts.value(most))
            most = it.key();
    }
    return QColor::fromRgb(most);
}

using Appends = QList<QPair<int, QString>>; // (column, text)

const QByteArray kSettings = "[Callvane]\nLanguage = Test\n[Blacklist]\nNum = 1;2\n[Whitelist]\nNum = 1;2\n";
const QByteArray kLog = "111\nfirst\n222\nsecond\n";

QStringList menuTexts(ZOptionsMenu *menu)
{
    QStringList texts;
    for (const QAction *row : menu->actions())
        texts.append(row->isSeparator() ? QStringLiteral("---") : row->text());
    return texts;
}

// Runs `action` inside the application's event loop; the loop's result, or -1 when the
// action did not quit.
int exitCodeOf(const std::function<void()> &action)
{
    QTimer notQuit; // stopped before it can reach a later loop
    notQuit.setSingleShot(true);
    QObject::connect(&notQuit, &QTimer::timeout, [] { qApp->exit(-1); });
    QTimer::singleShot(0, [&] {
        action();
        notQuit.start(50);
    });
    const int code = qApp->exec();
    notQuit.stop();
    return code;
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        reset(kSettings);
        writeFile(storageDir() + ".blockedcalls", kLog);
    }

    void cleanup() { QVERIFY(allDialogsAnswered()); }

    void startState()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        auto *tabs = gui->findChild<ZNavTabWidget *>();
        QCOMPARE(tabs->count(), 4);
        QCOMPARE(tabs->currentPageIndex(), 0);
        for (int tab = 0; tab < 4; ++tab) {
            QCOMPARE(tabs->tabText(tab), QString());
            QVERIFY(!tabs->tabIcon(tab).isNull());
        }
        auto *softKey = gui->findChild<ZSoftKey *>();
        QCOMPARE(softKey->text(0), QString("MENU_MENU"));
        QCOMPARE(softKey->text(1), QString("MENU_EXIT"));
        QCOMPARE(menuTexts(menu(*gui)), (QStringList{"MENU_LANG", "---", "MENU_ABOUT", "MENU_EXIT"}));
        QCOMPARE(rows(box(*gui, "registerBox")), (QStringList{"111|first", "222|second"}));
        QCOMPARE(box(*gui, "statusBox")->count(), 3);
    }

    void eachTabHasItsMenu_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QStringList>("texts");
        const QStringList numbers{"MENU_ADD", "MENU_DELETE", "---", "MENU_ABOUT", "MENU_EXIT"};
        QTest::newRow("black list") << 1 << numbers;
        QTest::newRow("white list") << 2 << numbers;
        QTest::newRow("register") << 3 << QStringList{"MENU_DELETE", "---", "MENU_ABOUT", "MENU_EXIT"};
        QTest::newRow("back to status") << 0 << QStringList{"MENU_LANG", "---", "MENU_ABOUT", "MENU_EXIT"};
    }

    void eachTabHasItsMenu()
    {
        QFETCH(int, tab);
        QFETCH(QStringList, texts);
        FakeShell shell;
        const auto gui = makeGui(shell);
        showTab(*gui, 3 - tab); // a change of tab even for the status tab
        showTab(*gui, tab);
        QCOMPARE(menuTexts(menu(*gui)), texts);
        for (int row = 0; row < texts.size(); ++row)
            QCOMPARE(menu(*gui)->actions().at(row)->icon().isNull(), texts.at(row) == "---");
    }

    // Each item runs its own slot: the dialog it opens and what it changes tell which.
    void menuItemsReachTheirSlots_data()
    {
        // clang-format off
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("blacklist");
        QTest::addColumn<QString>("whitelist");
        QTest::addColumn<QByteArray>("log");
        QTest::newRow("status: language") << 0 << 0 << "MENU_LANGUAGE" << "1;2" << "1;2" << kLog;
        QTest::newRow("status: about") << 0 << 2 << "About" << "1;2" << "1;2" << kLog;
        QTest::newRow("black list: add") << 1 << 0 << "MAIN_ADD" << "1;2;555" << "1;2" << kLog;
        QTest::newRow("black list: delete") << 1 << 1 << "" << "2" << "1;2" << kLog;
        QTest::newRow("black list: about") << 1 << 3 << "About" << "1;2" << "1;2" << kLog;
        QTest::newRow("white list: add") << 2 << 0 << "MAIN_ADD" << "1;2" << "1;2;555" << kLog;
        QTest::newRow("white list: delete") << 2 << 1 << "" << "1;2" << "2" << kLog;
        QTest::newRow("white list: about") << 2 << 3 << "About" << "1;2" << "1;2" << kLog;
        QTest::newRow("register: delete") << 3 << 0 << "" << "1;2" << "1;2" << QByteArray("222\nsecond\n\n");
        QTest::newRow("register: about") << 3 << 2 << "About" << "1;2" << "1;2" << kLog;
        // clang-format on
    }

    void menuItemsReachTheirSlots()
    {
        QFETCH(int, tab);
        QFETCH(int, position);
        QFETCH(QString, dialog);
        QFETCH(QString, blacklist);
        QFETCH(QString, whitelist);
        QFETCH(QByteArray, log);
        FakeShell shell;
        const auto gui = makeGui(shell);
        for (const char *name : {"blacklistBox", "whitelistBox", "registerBox"})
            box(*gui, name)->setCurrentRow(0);
        showTab(*gui, tab);
        if (dialog == "MAIN_ADD")
            typeInNextDialog("555");
        else if (!dialog.isEmpty())
            cancelNextDialog();
        runMenuItem(*gui, position);
        QCOMPARE(dialogTitles(), dialog.isEmpty() ? QStringList() : QStringList{dialog});
        QCOMPARE(storedValue("Blacklist", "Num"), blacklist);
        QCOMPARE(storedValue("Whitelist", "Num"), whitelist);
        QCOMPARE(readFile(storageDir() + ".blockedcalls"), log);
    }

    void exitQuitsAtOnceWithoutTouchingTheDaemon_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("exitItem"); // -1: soft key 1
        QTest::newRow("soft key 1") << 0 << -1;
        QTest::newRow("status menu") << 0 << 3;
        QTest::newRow("black list menu") << 1 << 4;
        QTest::newRow("white list menu") << 2 << 4;
        QTest::newRow("register menu") << 3 << 3;
    }

    void exitQuitsAtOnceWithoutTouchingTheDaemon()
    {
        QFETCH(int, tab);
        QFETCH(int, exitItem);
        FakeShell shell;
        shell.setDaemonRunning(true);
        const auto gui = makeGui(shell);
        showTab(*gui, tab);
        shell.commands.clear();
        const QByteArray before = settings();
        const int code = exitCodeOf([&] {
            if (exitItem < 0)
                QTest::keyClick(gui.get(), Qt::Key_F2);
            else
                runMenuItem(*gui, exitItem);
        });
        QCOMPARE(code, 0);
        QVERIFY(shell.commands.empty());
        QVERIFY(dialogTitles().isEmpty());
        QCOMPARE(settings(), before);
    }

    void softKeyLabelsFollowTheMenu()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        auto *softKey = gui->findChild<ZSoftKey *>();
        QTest::keyClick(gui.get(), Qt::Key_F1);
        QVERIFY(menu(*gui)->isVisible());
        QCOMPARE(softKey->text(0), QString("MENU_SELECT"));
        QCOMPARE(softKey->text(1), QString("MENU_CANCEL"));
        // Key 1 now cancels the menu; it does not quit.
        QCOMPARE(exitCodeOf([&] { QTest::keyClick(gui.get(), Qt::Key_F2); }), -1);
        QVERIFY(!menu(*gui)->isVisible());
        QCOMPARE(softKey->text(0), QString("MENU_MENU"));
        QCOMPARE(softKey->text(1), QString("MENU_EXIT"));
        QTest::mouseClick(softKey->findChild<QWidget *>("key0"), Qt::LeftButton);
        QVERIFY(menu(*gui)->isVisible());
        QTest::keyClick(menu(*gui), Qt::Key_Escape);
        QVERIFY(!menu(*gui)->isVisible());
    }

    void leftAndRightChangeTabAndMenu()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        auto *tabs = gui->findChild<ZNavTabWidget *>();
        QTest::keyClick(box(*gui, "statusBox"), Qt::Key_Right);
        QCOMPARE(tabs->currentPageIndex(), 1);
        QCOMPARE(menu(*gui)->itemText(0), QString("MENU_ADD"));
        QTest::keyClick(box(*gui, "blacklistBox"), Qt::Key_Left);
        QTest::keyClick(box(*gui, "statusBox"), Qt::Key_Left);
        QCOMPARE(tabs->currentPageIndex(), 3);
        QCOMPARE(menu(*gui)->itemText(0), QString("MENU_DELETE"));
    }

    // The keypad acts where it acted before a dialog once the dialog closes: in the current
    // tab's list, its row kept, moving in it and between tabs. Each flow runs twice, dialog
    // after dialog, keys and answers given as the keypad gives them.
    void keysActWhereTheyDidAfterADialog_data()
    {
        // clang-format off
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("menuDowns"); // to the menu's item; -1: Select on the row
        QTest::addColumn<QString>("typed");
        QTest::addColumn<Qt::Key>("answer");
        QTest::newRow("firewall on") << 0 << 0 << -1 << "" << Qt::Key_Return;
        QTest::newRow("mode, cancelled") << 0 << 1 << -1 << "" << Qt::Key_Escape;
        QTest::newRow("unknown callers") << 0 << 2 << -1 << "" << Qt::Key_F1;
        QTest::newRow("language") << 0 << 0 << 0 << "" << Qt::Key_Return;
        QTest::newRow("add number") << 1 << 1 << 0 << "555" << Qt::Key_Return;
        QTest::newRow("add number, cancelled") << 2 << 0 << 0 << "5" << Qt::Key_F2;
        QTest::newRow("about") << 3 << 1 << 1 << "" << Qt::Key_Return;
        // clang-format on
    }

    void keysActWhereTheyDidAfterADialog()
    {
        QFETCH(int, tab);
        QFETCH(int, row);
        QFETCH(int, menuDowns);
        QFETCH(QString, typed);
        QFETCH(Qt::Key, answer);
        FakeShell shell;
        const auto gui = makeGui(shell);
        gui->show();
        QVERIFY(QTest::qWaitForWindowActive(gui.get()));
        const auto *tabs = gui->findChild<ZNavTabWidget *>();
        for (int step = 0; step < tab; ++step)
            press(Qt::Key_Right);
        auto *list = qobject_cast<ZListBox *>(tabs->currentWidget());
        for (int step = 0; step < row; ++step)
            press(Qt::Key_Down);
        for (int round = 0; round < 2; ++round) {
            onNextDialog([&typed, answer](QWidget *) {
                QTest::keyClicks(nullptr, typed);
                press(answer);
            });
            if (menuDowns >= 0) {
                press(Qt::Key_F1);
                for (int step = 0; step < menuDowns; ++step)
                    press(Qt::Key_Down);
            }
            press(Qt::Key_Return);
            QCOMPARE(QApplication::focusWidget(), list);
            QCOMPARE(list->currentItem(), row);
        }
        press(row > 0 ? Qt::Key_Up : Qt::Key_Down);
        QCOMPARE(list->currentItem(), row > 0 ? row - 1 : 1);
        press(Qt::Key_Right);
        QCOMPARE(tabs->currentPageIndex(), (tab + 1) % 4);
        press(Qt::Key_F1);
        QVERIFY(menu(*gui)->isVisible());
    }

    void changedLanguageFileShowsInTheNextMenu()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        QByteArray language = readFile(programDir() + "languages/Test");
        language.replace("MENU_EXIT = MENU_EXIT", "MENU_EXIT = Leave");
        writeFile(programDir() + "languages/Test", language);
        QCOMPARE(menu(*gui)->itemText(3), QString("MENU_EXIT"));
        showTab(*gui, 1);
        QCOMPARE(menu(*gui)->itemText(4), QString("Leave"));
        showTab(*gui, 0);
        QCOMPARE(menu(*gui)->itemText(3), QString("Leave"));
    }

    void missingTextGivesEmptyLabelAndKeepsTheIcon()
    {
        QByteArray language = readFile(programDir() + "languages/Test");
        language.replace("MENU_ABOUT = MENU_ABOUT\n", "");
        writeFile(programDir() + "languages/Test", language);
        FakeShell shell;
        const auto gui = makeGui(shell);
        QCOMPARE(menu(*gui)->itemText(2), QString());
        QVERIFY(!menu(*gui)->actions().at(2)->icon().isNull());
        QCOMPARE(menu(*gui)->itemText(0), QString("MENU_LANG"));
    }

    void aboutLeavesTheWindowAsItWas()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        showTab(*gui, 1);
        box(*gui, "blacklistBox")->setCurrentRow(1);
        ZOptionsMenu *before = menu(*gui);
        QString text;
        onNextDialog([&text](QWidget *dialog) {
            auto *message = qobject_cast<ZMessageDlg *>(dialog);
            QVERIFY(message != nullptr);
            text = message->text();
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        runMenuItem(*gui, 3);
        QVERIFY(text.startsWith("Callvane\n"));
        QCOMPARE(text.count('\n'), 2);
        QCOMPARE(gui->findChild<ZNavTabWidget *>()->currentPageIndex(), 1);
        QCOMPARE(menu(*gui), before);
        QCOMPARE(box(*gui, "blacklistBox")->currentItem(), 1);
        QCOMPARE(rows(box(*gui, "blacklistBox")), (QStringList{"1", "2"}));
    }

    void salirQuitsOnlyWhenAccepted_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<int>("code");
        QTest::newRow("accepted") << true << 0;
        QTest::newRow("declined") << false << -1;
    }

    void salirQuitsOnlyWhenAccepted()
    {
        QFETCH(bool, accept);
        QFETCH(int, code);
        FakeShell shell;
        const auto gui = makeGui(shell);
        shell.commands.clear();
        const QByteArray before = settings();
        onNextDialog([accept](QWidget *dialog) { QTest::keyClick(dialog, accept ? Qt::Key_F1 : Qt::Key_F2); });
        QCOMPARE(exitCodeOf([&] { gui->salir(); }), code);
        QCOMPARE(dialogTitles(), QStringList{"Callvane"});
        QVERIFY(shell.commands.empty());
        QCOMPARE(settings(), before);
    }

    // Icon-only tabs and the soft keys have names a screen reader can say.
    void tabsAndKeysHaveNames()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        auto *tabs = gui->findChild<ZNavTabWidget *>();
        QStringList names;
        for (int tab = 0; tab < tabs->count(); ++tab) {
            QCOMPARE(tabs->tabToolTip(tab), tabs->tabBar()->accessibleTabName(tab));
            names.append(tabs->tabBar()->accessibleTabName(tab));
        }
        QCOMPARE(names, (QStringList{"MAIN_STATE", "MAIN_BLACK", "MAIN_WHITE", "MAIN_REGISTER"}));
        auto *keys = gui->findChild<ZSoftKey *>();
        QCOMPARE(keys->findChild<QWidget *>("key0")->accessibleName(), QString("MENU_MENU"));
        QCOMPARE(keys->findChild<QWidget *>("key1")->accessibleName(), QString("MENU_EXIT"));
    }

    // Icons, and the boxes of a choice, against what they are drawn on, in a light and in a
    // dark theme.
    void iconsAndMarksStandOut_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("highlighted");
        QTest::addColumn<bool>("icons"); // else an unticked box
        QTest::newRow("light: icons") << false << false << true;
        QTest::newRow("light: icons, highlighted") << false << true << true;
        QTest::newRow("light: unticked box") << false << false << false;
        QTest::newRow("dark: icons") << true << false << true;
        QTest::newRow("dark: icons, highlighted") << true << true << true;
        QTest::newRow("dark: unticked box") << true << false << false;
    }

    void iconsAndMarksStandOut()
    {
        QFETCH(bool, dark);
        QFETCH(bool, highlighted);
        QFETCH(bool, icons);
        const QPalette saved = QApplication::palette();
        const auto restore = qScopeGuard([&saved] { QApplication::setPalette(saved); });
        QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
        const QColor ground = QApplication::palette().color(highlighted ? QPalette::Highlight : QPalette::Base);
        const QColor onHighlight = QApplication::palette().color(QPalette::HighlightedText);
        for (const QFileInfo &file : QDir(programDir() + "images").entryInfoList({"*.png"})) {
            if (!icons)
                break;
            QPixmap icon = ZGlobal::loadImage(file.filePath());
            if (highlighted)
                icon = ZGlobal::tinted(icon, onHighlight);
            const double contrast = contrastRatio(mainColour(icon.toImage(), ground), ground);
            QVERIFY2(contrast >= 3, qPrintable(file.fileName() + ": " + QString::number(contrast)));
        }
        if (icons)
            return;
        // The second row of a choice.
        ZListBox choices(QStringLiteral("%M"), nullptr);
        choices.setCheckMode(true);
        for (const char *text : {"one", "two"}) {
            auto *row = new ZListBoxItem(&choices, QStringLiteral("%M"));
            row->appendSubItem(1, QString::fromLatin1(text));
            choices.insertItem(row);
        }
        choices.resize(200, 120);
        const QImage shown = choices.grab().toImage();
        const QRect row = choices.visualRect(choices.model()->index(1, 0));
        const QRect box(row.left() + 2, row.center().y() - 9, 22, 18); // before the text
        double strongest = 0;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            for (int x = box.left(); x <= box.right(); ++x)
                strongest = qMax(strongest, contrastRatio(shown.pixelColor(x, y), shown.pixelColor(box.topLeft())));
        }
        QVERIFY2(strongest >= 3, qPrintable(QString::number(strongest)));
    }

    // What a screen reader says of the window, its lists and its dialogs' fields.
    void screenReadersKnowWhatEachIs_data()
    {
        // clang-format off
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("menuItem"); // whose dialog holds the widget; -1: the window
        QTest::addColumn<QString>("widget"); // its object name; empty: the window itself
        QTest::addColumn<QAccessible::Role>("role");
        QTest::addColumn<QString>("name");
        QTest::newRow("the window") << 0 << -1 << "" << QAccessible::Window << "Callvane";
        QTest::newRow("the status list") << 0 << -1 << "statusBox" << QAccessible::List << "MAIN_STATE";
        QTest::newRow("the black list") << 1 << -1 << "blacklistBox" << QAccessible::List << "MAIN_BLACK";
        QTest::newRow("the register") << 3 << -1 << "registerBox" << QAccessible::List << "MAIN_REGISTER";
        QTest::newRow("the number to add") << 1 << 0 << "edit" << QAccessible::EditableText << "MAIN_ADD";
        QTest::newRow("the languages") << 0 << 0 << "choices" << QAccessible::List << "MENU_LANGUAGE";
        // clang-format on
    }

    void screenReadersKnowWhatEachIs()
    {
        QFETCH(int, tab);
        QFETCH(int, menuItem);
        QFETCH(QString, widget);
        QFETCH(QAccessible::Role, role);
        QFETCH(QString, name);
        FakeShell shell;
        const auto gui = makeGui(shell);
        showTab(*gui, tab);
        const auto check = [&](QWidget *root) {
            QWidget *target = widget.isEmpty() ? root : root->findChild<QWidget *>(widget);
            QVERIFY(target != nullptr);
            QAccessibleInterface *read = QAccessible::queryAccessibleInterface(target);
            QCOMPARE(read->role(), role);
            QCOMPARE(read->text(QAccessible::Name), name);
        };
        if (menuItem < 0) {
            check(gui.get());
            return;
        }
        onNextDialog([&check](QWidget *dialog) {
            check(dialog);
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        runMenuItem(*gui, menuItem);
        QVERIFY(allDialogsAnswered());
    }

    // On a desktop the window is a phone-sized one that can be resized; its areas follow.
    void layoutFollowsTheWindowsSize_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("as opened") << QSize();
        QTest::newRow("wider and taller") << QSize(480, 854);
        QTest::newRow("smaller") << QSize(300, 400);
    }

    void layoutFollowsTheWindowsSize()
    {
        QFETCH(QSize, size);
        FakeShell shell;
        const auto gui = makeGui(shell);
        QVERIFY(!gui->isFullScreen()); // the offscreen screen (800x600) is no phone's
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        if (size.isValid())
            gui->resize(size);
        else
            size = QSize(360, qMin(720, screen.height() - 40)); // all of it on the screen
        QTRY_COMPARE(gui->size(), size);
        const auto *keys = gui->findChild<ZSoftKey *>();
        const auto *tabs = gui->findChild<ZNavTabWidget *>();
        QTRY_COMPARE(keys->mapTo(gui.get(), QPoint(keys->width(), keys->height())),
                     QPoint(size.width(), size.height()));
        QCOMPARE(tabs->mapTo(gui.get(), QPoint(tabs->width(), tabs->height())),
                 QPoint(size.width(), keys->mapTo(gui.get(), QPoint()).y()));
        QCOMPARE(box(*gui, "statusBox")->width(), size.width());
    }

    // A row's lines are kept column by column, whatever order they come in; the view shows
    // them all.
    void listBoxItemKeepsItsColumnsApart_data()
    {
        // clang-format off
        QTest::addColumn<Appends>("appended");
        QTest::addColumn<QStringList>("columns"); // each column's lines, joined by "|"
        QTest::newRow("one line") << Appends{{1, "+34 600"}}
                                  << QStringList{"", "+34 600", ""};
        QTest::newRow("two columns in order") << Appends{{1, "a"}, {2, "b"}}
                                              << QStringList{"", "a", "b"};
        QTest::newRow("a column filled after the next") << Appends{{2, "b"}, {1, "a"}, {1, "a2"}, {0, "z"}}
                                                        << QStringList{"z", "a|a2", "b"};
        QTest::newRow("empty lines") << Appends{{1, ""}, {1, "x"}, {2, ""}}
                                     << QStringList{"", "|x", ""};
        QTest::newRow("a text with a line end") << Appends{{2, "c"}, {1, "a\nb"}}
                                                << QStringList{"", "a|b", "c"};
        QTest::newRow("no such column") << Appends{{3, "z"}, {-1, "z"}, {1, "a"}}
                                        << QStringList{"", "a", ""};
        const QStringList full(ZListBoxItem::kMaxLines, QStringLiteral("x"));
        QTest::newRow("more lines than a column holds")
            << Appends{{1, full.join('\n') + "\nx"}, {1, "y"}, {0, "z"}}
            << QStringList{"z", full.join('|'), ""};
        QTest::newRow("not ASCII, before and after") << Appends{{2, "€"}, {1, "Añadir"}, {1, "\u00e9\nn\u00ba"}}
                                                     << QStringList{"", "Añadir|\u00e9|n\u00ba", "€"};
        // clang-format on
    }

    void listBoxItemKeepsItsColumnsApart()
    {
        QFETCH(Appends, appended);
        QFETCH(QStringList, columns);
        ZListBoxItem row(nullptr, QStringLiteral("%I%M"));
        for (const auto &[column, text] : appended)
            row.appendSubItem(column, text);
        QStringList read;
        QStringList all;
        for (int column = 0; column < 3; ++column) {
            read.append(row.subItems(column).join(QLatin1Char('|')));
            all += row.subItems(column);
            QCOMPARE(row.getSubItemText(column, 0), row.subItems(column).value(0));
        }
        QCOMPARE(read, columns);
        QCOMPARE(QString::fromStdString(row.utf8()), all.join(QLatin1Char('\n')));
    }

    // The cursor keeps its place through edits, and in check mode the checked row is the
    // cursor's.
    void listBoxKeepsTheCursorsPlace_data()
    {
        QTest::addColumn<bool>("checkMode");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QStringList>("edits"); // "-N" removes row N, "+N" inserts at N, "-*" clears
        QTest::addColumn<int>("expected");
        // clang-format off
        QTest::newRow("row before it removed: stays on its row") << false << 5 << 3 << QStringList{"-0"} << 2;
        QTest::newRow("its row removed, the last") << false << 5 << 4 << QStringList{"-4"} << 3;
        QTest::newRow("emptied and refilled") << false << 5 << 2 << QStringList{"-*", "+0", "+1", "+2", "+3"} << 2;
        QTest::newRow("emptied") << false << 5 << 2 << QStringList{"-*"} << -1;
        QTest::newRow("none stays none") << false << 2 << -1 << QStringList{"+0"} << -1;
        QTest::newRow("check mode: the first row as it comes") << true << 0 << -1 << QStringList{"+0", "+1"} << 0;
        QTest::newRow("check mode: refilled") << true << 5 << 3 << QStringList{"-*", "+0", "+1", "+2", "+3"} << 3;
        // clang-format on
    }

    void listBoxKeepsTheCursorsPlace()
    {
        QFETCH(bool, checkMode);
        QFETCH(int, rows);
        QFETCH(int, cursor);
        QFETCH(QStringList, edits);
        QFETCH(int, expected);
        ZListBox box(QString(), nullptr);
        box.setCheckMode(checkMode);
        const auto row = [&box](int at) {
            auto *item = new ZListBoxItem(&box, QStringLiteral("%M"));
            item->appendSubItem(1, QString::number(at));
            box.insertItem(item, at);
        };
        for (int i = 0; i < rows; ++i)
            row(i);
        box.setCurrentRow(cursor);
        for (const QString &edit : edits) {
            if (edit == "-*") {
                box.clear();
            } else if (edit.startsWith('-')) {
                box.removeItem(edit.mid(1).toInt());
            } else {
                row(edit.mid(1).toInt());
            }
        }
        QCOMPARE(box.currentItem(), expected);
        for (int i = 0; i < box.count(); ++i) {
            const QVariant check = box.model()->index(i, 0).data(Qt::CheckStateRole);
            QCOMPARE(check, checkMode ? QVariant(i == expected ? Qt::Checked : Qt::Unchecked) : QVariant());
        }
    }

    void replacedMenusDoNotPileUp()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        for (int change = 0; change < 200; ++change)
            showTab(*gui, change % 4);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(gui->findChildren<ZOptionsMenu *>().size() <= 1);
        QCOMPARE(menu(*gui)->itemText(0), QString("MENU_DELETE"));
    }
};

CALLVANE_GUI_TEST_MAIN(TestWindow)
#include "tst_window.moc"
