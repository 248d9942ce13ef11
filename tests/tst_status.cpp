#include "app/zgui.h"
#include "ezx/zlistbox.h"
#include "ezx/zlistboxitem.h"
#include "ezx/znavtabwidget.h"
#include "guitest.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <algorithm>
#include <optional>

using namespace guitest;

namespace {

QByteArray settingsWith(const QByteArray &lines)
{
    return "[Callvane]\nLanguage = Test\n" + lines;
}

// Enter on a row of the status tab.
void select(ZGui &gui, int row)
{
    ZListBox *status = box(gui, "statusBox");
    status->setCurrentRow(row);
    QTest::keyClick(status, Qt::Key_Return);
}

// Enter on a row, then `downs` times down and Enter in its dialog: the dialog's title and
// choices.
QStringList choose(ZGui &gui, int row, int downs)
{
    QStringList offered;
    onNextDialog([&offered, downs](QWidget *dialog) {
        auto *choices = dialog->findChild<ZListBox *>();
        offered = QStringList{dialog->windowTitle()} + guitest::rows(choices);
        for (int i = 0; i < downs; ++i)
            QTest::keyClick(choices, Qt::Key_Down);
        QTest::keyClick(choices, Qt::Key_Return);
    });
    select(gui, row);
    return offered;
}

// After a choice the tab is refreshed: three rows, `row` showing `shown` and still current.
void shows(ZGui &gui, int row, const QString &shown)
{
    ZListBox *status = box(gui, "statusBox");
    QCOMPARE(status->count(), 3);
    QCOMPARE(guitest::rows(status).at(row), shown);
    QCOMPARE(status->currentItem(), row);
}

} // namespace

class TestStatus : public QObject
{
    Q_OBJECT

private slots:
    void init() { reset(); }

    void cleanup() { QVERIFY(allDialogsAnswered()); }

    void rows_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("probeFileMade");
        QTest::addColumn<QByteArray>("probe");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("state");
        const QByteArray deployed = (storageDir() + ".blacklist\n").toUtf8();
        QTest::newRow("daemon running, black list, unknown blocked")
            << settingsWith("Firewall = Blacklist\nBlockUnknown = Yes\n") << true << deployed
            << QStringList{"MAIN_STATE|OPTIONS_ENABLED", "MAIN_LIST|MAIN_BLACK", "MENU_UNKNOWN|OPTIONS_ENABLED"}
            << "ON";
        QTest::newRow("not running, white list, unknown let through")
            << settingsWith("Firewall = Whitelist\nBlockUnknown = No\n") << true << QByteArray()
            << QStringList{"MAIN_STATE|OPTIONS_DISABLED", "MAIN_LIST|MAIN_WHITE", "MENU_UNKNOWN|OPTIONS_DISABLED"}
            << "OFF";
        QTest::newRow("values differing in case fall to the default")
            << settingsWith("Firewall = blacklist\nBlockUnknown = yes\n") << true << deployed
            << QStringList{"MAIN_STATE|OPTIONS_ENABLED", "MAIN_LIST|MAIN_WHITE", "MENU_UNKNOWN|OPTIONS_DISABLED"}
            << "ON";
        QTest::newRow("empty values") << settingsWith("Firewall =\nBlockUnknown =\n") << true << QByteArray()
                                      << QStringList{"MAIN_STATE|OPTIONS_DISABLED", "MAIN_LIST|MAIN_WHITE",
                                                     "MENU_UNKNOWN|OPTIONS_DISABLED"}
                                      << "OFF";
        QTest::newRow("this storage's daemon listed after others")
            << settingsWith("") << true << ("/opt/app/blacklist\n/x" + deployed + deployed)
            << QStringList{"MAIN_STATE|OPTIONS_ENABLED", "MAIN_LIST|MAIN_WHITE", "MENU_UNKNOWN|OPTIONS_DISABLED"}
            << "ON";
        QTest::newRow("another storage's daemon only")
            << settingsWith("") << true << ("/x" + deployed)
            << QStringList{"MAIN_STATE|OPTIONS_DISABLED", "MAIN_LIST|MAIN_WHITE", "MENU_UNKNOWN|OPTIONS_DISABLED"}
            << "OFF";
        QTest::newRow("probe file not made: no value, no state")
            << settingsWith("") << false << QByteArray()
            << QStringList{"MAIN_STATE", "MAIN_LIST|MAIN_WHITE", "MENU_UNKNOWN|OPTIONS_DISABLED"} << QString();
        QTest::newRow("no settings file: no language, defaults") << QByteArray() << true << deployed
                                                                 << QStringList{"|", "|", "|"} << "ON";
        // clang-format on
    }

    void rows()
    {
        QFETCH(QByteArray, settings);
        QFETCH(bool, probeFileMade);
        QFETCH(QByteArray, probe);
        QFETCH(QStringList, rows);
        QFETCH(QString, state);
        reset(settings);
        FakeShell shell;
        shell.probeOutput = probeFileMade ? std::optional<QByteArray>(probe) : std::nullopt;
        const auto gui = makeGui(shell);
        QCOMPARE(guitest::rows(box(*gui, "statusBox")), rows);
        QCOMPARE(gui->daemonState(), state);
        QCOMPARE(gui->daemonState().isNull(), state.isNull());
        QVERIFY(!QFile::exists(programDir() + "/state"));
    }

    // The list mode and the unknown-caller rule: stored, and deployed by a restart when on.
    void changesSetting_data()
    {
        // clang-format off
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("downs");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("dialog");
        const QStringList list{"MAIN_LIST", "MAIN_BLACK", "MAIN_WHITE"};
        const QStringList unknown{"MENU_UNKNOWN", "OPTIONS_ENABLED", "OPTIONS_DISABLED"};
        QTest::newRow("list: black list, firewall off")
            << 1 << 0 << false << "Firewall" << "Blacklist" << "MAIN_LIST|MAIN_BLACK" << list;
        QTest::newRow("list: white list, firewall on")
            << 1 << 1 << true << "Firewall" << "Whitelist" << "MAIN_LIST|MAIN_WHITE" << list;
        QTest::newRow("list: same mode again, firewall on")
            << 1 << 1 << true << "Firewall" << "Whitelist" << "MAIN_LIST|MAIN_WHITE" << list;
        QTest::newRow("unknown: block, firewall on")
            << 2 << 0 << true << "BlockUnknown" << "Yes" << "MENU_UNKNOWN|OPTIONS_ENABLED" << unknown;
        QTest::newRow("unknown: let through, firewall off")
            << 2 << 1 << false << "BlockUnknown" << "No" << "MENU_UNKNOWN|OPTIONS_DISABLED" << unknown;
        // clang-format on
    }

    void changesSetting()
    {
        QFETCH(int, row);
        QFETCH(int, downs);
        QFETCH(bool, running);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, shown);
        QFETCH(QStringList, dialog);
        reset(settingsWith("Firewall = Whitelist\n"));
        FakeShell shell;
        shell.setDaemonRunning(running);
        const auto gui = makeGui(shell);
        shell.commands.clear();
        QByteArray copied; // the settings file as the deploy command found it
        shell.spy = [&](const std::string &command) {
            if (command.find("Callvane.cfg ") != std::string::npos)
                copied = settings();
        };
        QCOMPARE(choose(*gui, row, downs), dialog);
        QCOMPARE(storedValue("Callvane", key.toLatin1().constData()), value);
        QVERIFY(
            (shell.commands == concat({running ? restartCommands() : std::vector<std::string>{}, probeCommands()})));
        if (running)
            QVERIFY(copied.contains((key + " = " + value).toUtf8()));
        shows(*gui, row, shown);
    }

    void switchesState_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("shown"); // the fake daemon does not change: nor does the row
        QTest::newRow("switch on") << false << "MAIN_STATE|OPTIONS_DISABLED";
        QTest::newRow("switch off") << true << "MAIN_STATE|OPTIONS_ENABLED";
    }

    void switchesState()
    {
        QFETCH(bool, running);
        QFETCH(QString, shown);
        reset(settingsWith("Firewall = Whitelist\n"));
        FakeShell shell;
        shell.setDaemonRunning(running);
        const auto gui = makeGui(shell);
        shell.commands.clear();
        QCOMPARE(choose(*gui, 0, running ? 1 : 0), (QStringList{"MAIN_STATE", "OPTIONS_ENABLE", "OPTIONS_DISABLE"}));
        const QString program = programDir();
        const std::vector<std::string> on = {
            ("cp " + program + "blacklist " + storageDir() + ".blacklist").toStdString(),
            ("cp " + program + "Callvane.cfg " + storageDir() + ".Callvane.cfg").toStdString(),
            ("exec " + storageDir() + ".blacklist&").toStdString()};
        const std::vector<std::string> off = {"busybox killall .blacklist"};
        QVERIFY((shell.commands == concat({running ? off : on, probeCommands()})));
        shows(*gui, 0, shown);
    }

    // A daemon that starts or stops slowly: the row shows the outcome, and later edits
    // restart (or do not restart) accordingly.
    void switchProbesOnlyOnceTheDaemonSettled_data()
    {
        QTest::addColumn<int>("downs");
        QTest::addColumn<bool>("on");
        QTest::newRow("switch on") << 0 << true;
        QTest::newRow("switch off") << 1 << false;
    }

    void switchProbesOnlyOnceTheDaemonSettled()
    {
        QFETCH(int, downs);
        QFETCH(bool, on);
        FakeShell shell;
        shell.setDaemonRunning(!on);
        shell.onAwait = [&shell](bool running) {
            shell.setDaemonRunning(running);
            return true;
        };
        const auto gui = makeGui(shell);
        chooseInNextDialog(downs);
        select(*gui, 0);
        QCOMPARE(shell.awaited, std::vector<bool>{on});
        QCOMPARE(guitest::rows(box(*gui, "statusBox")).at(0),
                 QString(on ? "MAIN_STATE|OPTIONS_ENABLED" : "MAIN_STATE|OPTIONS_DISABLED"));
        QCOMPARE(gui->daemonState(), QString(on ? "ON" : "OFF"));
    }

    // What failed shows in the refreshed rows, and nothing else does (no message box).
    void failuresShowInTheRows_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("settingsUnwritable");
        QTest::addColumn<QString>("shown");
        QTest::newRow("start failed: off") << 0 << false << "MAIN_STATE|OPTIONS_DISABLED";
        QTest::newRow("list mode not saved") << 1 << true << "MAIN_LIST|MAIN_WHITE";
        QTest::newRow("unknown callers not saved") << 2 << true << "MENU_UNKNOWN|OPTIONS_DISABLED";
    }

    void failuresShowInTheRows()
    {
        QFETCH(int, row);
        QFETCH(bool, settingsUnwritable);
        QFETCH(QString, shown);
        FakeShell shell;
        shell.startFails = true;
        const auto gui = makeGui(shell);
        chooseInNextDialog(0);
        {
            std::optional<FileSizeLimit> full;
            if (settingsUnwritable)
                full.emplace(8);
            select(*gui, row);
        }
        QCOMPARE(guitest::rows(box(*gui, "statusBox")).at(row), shown);
        if (row == 0)
            QCOMPARE(shell.awaited, std::vector<bool>{false}); // no daemon to wait for
    }

    void twoRefreshesLeaveThreeRows()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        for (const int downs : {0, 1}) {
            chooseInNextDialog(downs);
            select(*gui, 1);
        }
        QCOMPARE(guitest::rows(box(*gui, "statusBox")),
                 (QStringList{"MAIN_STATE|OPTIONS_DISABLED", "MAIN_LIST|MAIN_WHITE", "MENU_UNKNOWN|OPTIONS_DISABLED"}));
    }

    void cancelDoesNothing_data()
    {
        QTest::addColumn<int>("row");
        for (int row = 0; row < 3; ++row)
            QTest::addRow("row %d", row) << row;
    }

    void cancelDoesNothing()
    {
        QFETCH(int, row);
        reset(settingsWith("Firewall = Blacklist\n"));
        FakeShell shell;
        shell.setDaemonRunning(true);
        const auto gui = makeGui(shell);
        const QStringList before = guitest::rows(box(*gui, "statusBox"));
        const QByteArray file = settings();
        shell.setDaemonRunning(false); // a refresh would show
        shell.commands.clear();
        cancelNextDialog();
        select(*gui, row);
        QCOMPARE(dialogTitles().size(), 1);
        QVERIFY(shell.commands.empty());
        QCOMPARE(settings(), file);
        QCOMPARE(guitest::rows(box(*gui, "statusBox")), before);
    }

    // The choice is always the highlighted row, whatever keys lead there; exactly one row is
    // checked at every step.
    void choiceFollowsTheCursor_data()
    {
        // clang-format off
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("stored");
        QTest::newRow("Return at once") << QList<int>{Qt::Key_Return} << "Yes";
        QTest::newRow("Space End Space Return")
            << QList<int>{Qt::Key_Space, Qt::Key_End, Qt::Key_Space, Qt::Key_Return} << "No";
        QTest::newRow("Down Down Up Return") << QList<int>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Return}
                                             << "Yes";
        QTest::newRow("PageDown Return") << QList<int>{Qt::Key_PageDown, Qt::Key_Return} << "No";
        QTest::newRow("End Home Return") << QList<int>{Qt::Key_End, Qt::Key_Home, Qt::Key_Return} << "Yes";
        QTest::newRow("Down then F1") << QList<int>{Qt::Key_Down, Qt::Key_F1} << "No";
        QTest::newRow("Down then Escape") << QList<int>{Qt::Key_Down, Qt::Key_Escape} << "<missing>";
        // clang-format on
    }

    void choiceFollowsTheCursor()
    {
        QFETCH(QList<int>, keys);
        QFETCH(QString, stored);
        FakeShell shell;
        const auto gui = makeGui(shell);
        QList<int> checkedRows;
        onNextDialog([&](QWidget *dialog) {
            auto *choices = dialog->findChild<ZListBox *>();
            for (const int key : keys) {
                int checked = 0;
                for (int i = 0; i < choices->count(); ++i)
                    checked += choices->itemChecked(i) ? 1 : 0;
                QCOMPARE(checked, 1);
                checkedRows.append(choices->checkedItem());
                QCOMPARE(choices->checkedItem(), choices->currentItem());
                QTest::keyClick(choices, Qt::Key(key));
            }
        });
        select(*gui, 2);
        QCOMPARE(checkedRows.value(0), 0); // opens on the first row, checked
        QCOMPARE(storedValue("Callvane", "BlockUnknown"), stored);
    }

    void restartsOnlyWhenTheStateIsOn_data()
    {
        QTest::addColumn<bool>("probeFileMade");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("restart");
        QTest::newRow("ON") << true << true << true;
        QTest::newRow("OFF") << true << false << false;
        QTest::newRow("never probed") << false << false << false;
    }

    void restartsOnlyWhenTheStateIsOn()
    {
        QFETCH(bool, probeFileMade);
        QFETCH(bool, running);
        QFETCH(bool, restart);
        FakeShell shell;
        shell.setDaemonRunning(running);
        if (!probeFileMade)
            shell.probeOutput.reset();
        const auto gui = makeGui(shell);
        shell.commands.clear();
        chooseInNextDialog(0);
        select(*gui, 2);
        QVERIFY(
            (shell.commands == concat({restart ? restartCommands() : std::vector<std::string>{}, probeCommands()})));
    }

    void selectingOtherTabsRowsMatchesByLabel()
    {
        reset(settingsWith("[Blacklist]\nNum = 123;MAIN_LIST\n"));
        FakeShell shell;
        const auto gui = makeGui(shell);
        showTab(*gui, 1);
        ZListBox *black = box(*gui, "blacklistBox");
        black->setCurrentRow(0);
        QTest::keyClick(black, Qt::Key_Return);
        QVERIFY(dialogTitles().isEmpty());
        cancelNextDialog();
        black->setCurrentRow(1);
        QTest::keyClick(black, Qt::Key_Return);
        QCOMPARE(dialogTitles(), QStringList{"MAIN_LIST"});
    }

    // A click (a tap) on a row opens its dialog, once, as Return does.
    void clickOpensTheRowsDialog_data()
    {
        QTest::addColumn<bool>("doubleClick");
        QTest::newRow("single click") << false;
        QTest::newRow("double click") << true;
    }

    void clickOpensTheRowsDialog()
    {
        QFETCH(bool, doubleClick);
        FakeShell shell;
        const auto gui = makeGui(shell);
        ZListBox *status = box(*gui, "statusBox");
        cancelNextDialog();
        const QPoint row = status->visualRect(status->model()->index(1, 0)).center();
        QTest::mouseClick(status->viewport(), Qt::LeftButton, {}, row);
        if (doubleClick)
            QTest::mouseDClick(status->viewport(), Qt::LeftButton, {}, row);
        QCOMPARE(dialogTitles(), QStringList{"MAIN_LIST"});
    }

    void clickChecksAChoice()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        onNextDialog([](QWidget *dialog) {
            auto *choices = dialog->findChild<ZListBox *>();
            QCOMPARE(choices->checkedItem(), 0);
            QTest::mouseClick(choices->viewport(), Qt::LeftButton, {},
                              choices->visualRect(choices->model()->index(1, 0)).center());
            QCOMPARE(choices->checkedItem(), 1);
            QTest::mouseClick(dialog->findChild<QWidget *>("key0"), Qt::LeftButton);
        });
        select(*gui, 2);
        QCOMPARE(storedValue("Callvane", "BlockUnknown"), QString("No"));
    }
};

CALLVANE_GUI_TEST_MAIN(TestStatus)
#include "tst_status.moc"
