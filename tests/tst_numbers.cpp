#include "app/zgui.h"
#include "ezx/zlineedit.h"
#include "ezx/zlistbox.h"
#include "ezx/zlistboxitem.h"
#include "ezx/zsinglecapturedlg.h"
#include "guitest.h"

#include <QTest>

using namespace guitest;

namespace {

struct Twin
{
    const char *group;
    const char *box;
    int tab;
    void (ZGui::*add)();
    void (ZGui::*remove)();
};

const Twin kTwins[] = {
    {"Blacklist", "blacklistBox", 1, &ZGui::addNumber1, &ZGui::removeNumber1},
    {"Whitelist", "whitelistBox", 2, &ZGui::addNumber2, &ZGui::removeNumber2},
};

QByteArray settingsWithList(const char *group, const QString &stored)
{
    QByteArray text = "[Callvane]\nLanguage = Test\n";
    if (stored != "<missing>")
        text += "[" + QByteArray(group) + "]\nNum = " + stored.toUtf8() + "\n";
    // The other list holds the same entries and must stay as it is.
    const QByteArray other = QByteArray(group) == "Blacklist" ? "Whitelist" : "Blacklist";
    return text + "[" + other + "]\nNum = 9;8\n";
}

// A data row of the list kTwins[which], named after it: "Blacklist: <name>".
QTestData &listRow(int which, const char *name)
{
    return QTest::addRow("%s: %s", kTwins[which].group, name) << which;
}

// The list of the running data row.
const Twin &currentTwin()
{
    QFETCH(int, which);
    return kTwins[which];
}

QString otherGroup(const Twin &twin)
{
    return QString(twin.group) == "Blacklist" ? "Whitelist" : "Blacklist";
}

} // namespace

class TestNumbers : public QObject
{
    Q_OBJECT

private slots:
    void init() { reset(); }

    void cleanup() { QVERIFY(allDialogsAnswered()); }

    void load_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("rows");
        for (int which = 0; which < 2; ++which) {
            listRow(which, "absent") << "<missing>" << QStringList{};
            listRow(which, "empty") << "" << QStringList{};
            listRow(which, "three in order") << "333;111;222" << QStringList{"333", "111", "222"};
            listRow(which, "twice the same") << "111;111" << QStringList{"111", "111"};
            listRow(which, "empty fields dropped") << ";111;;222;" << QStringList{"111", "222"};
        }
    }

    void load()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, rows);
        const Twin &twin = currentTwin();
        reset(settingsWithList(twin.group, stored));
        FakeShell shell;
        const auto gui = makeGui(shell);
        ZListBox *list = box(*gui, twin.box);
        QCOMPARE(guitest::rows(list), rows);
        for (int i = 0; i < list->count(); ++i)
            QVERIFY(!list->item(i)->pixmap().isNull());
    }

    void add_data()
    {
        // clang-format off
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("rows");
        for (int which = 0; which < 2; ++which) {
            listRow(which, "to an empty list") << "<missing>" << "600112233" << "600112233" << QStringList{"600112233"};
            listRow(which, "a third after two") << "111;222" << "333" << "111;222;333"
                                               << QStringList{"111", "222", "333"};
            listRow(which, "a duplicate") << "111;222" << "111" << "111;222;111" << QStringList{"111", "222", "111"};
            listRow(which, "empty text on an empty list") << "" << "" << "" << QStringList{};
            listRow(which, "empty text on a list") << "111;222" << "" << "111;222;" << QStringList{"111", "222"};
            listRow(which, "text with a separator") << "111" << "2;3" << "111;2;3" << QStringList{"111", "2", "3"};
            listRow(which, "blanks and signs as typed") << "111" << " +34 (600) 11-22 " << "111; +34 (600) 11-22 "
                                                       << QStringList{"111", " +34 (600) 11-22 "};
        }
        // clang-format on
    }

    void add()
    {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        QFETCH(QStringList, rows);
        const Twin &twin = currentTwin();
        reset(settingsWithList(twin.group, stored));
        FakeShell shell;
        const auto gui = makeGui(shell);
        showTab(*gui, twin.tab);
        typeInNextDialog(typed);
        runMenuItem(*gui, 0);
        QCOMPARE(dialogTitles(), QStringList{"MAIN_ADD"});
        QCOMPARE(storedValue(twin.group, "Num"), expected);
        QCOMPARE(guitest::rows(box(*gui, twin.box)), rows);
        QCOMPARE(storedValue(otherGroup(twin).toLatin1().constData(), "Num"), QString("9;8"));
    }

    void remove_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("expected");
        for (int which = 0; which < 2; ++which) {
            listRow(which, "the only one") << "111" << 0 << "";
            listRow(which, "the first") << "111;222;333" << 0 << "222;333";
            listRow(which, "the middle") << "111;222;333" << 1 << "111;333";
            listRow(which, "the last") << "111;222;333" << 2 << "111;222";
            listRow(which, "second of two equal") << "111;222;111" << 2 << "111;222";
            listRow(which, "first of two equal") << "111;222;111" << 0 << "222;111";
        }
    }

    void remove()
    {
        QFETCH(QString, stored);
        QFETCH(int, current);
        QFETCH(QString, expected);
        const Twin &twin = currentTwin();
        reset(settingsWithList(twin.group, stored));
        FakeShell shell;
        const auto gui = makeGui(shell);
        showTab(*gui, twin.tab);
        ZListBox *list = box(*gui, twin.box);
        list->setCurrentRow(current);
        runMenuItem(*gui, 1);
        QVERIFY(dialogTitles().isEmpty()); // no confirmation
        QCOMPARE(storedValue(twin.group, "Num"), expected);
        QCOMPARE(guitest::rows(list).join(';'), expected);
        QCOMPARE(storedValue(otherGroup(twin).toLatin1().constData(), "Num"), QString("9;8"));
        // The cursor stays at its place as far as the list reaches.
        QCOMPARE(list->currentItem(), list->count() == 0 ? -1 : qMin(current, list->count() - 1));
    }

    // The box shows the list as stored after the edit, whatever changed it since the load.
    void editShowsTheStoredList_data()
    {
        // clang-format off
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("loaded");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("typed"); // or null: remove the first row
        QTest::addColumn<QString>("expected");
        for (int which = 0; which < 2; ++which) {
            listRow(which, "add after one added") << "1;2" << "1;2;3" << "4" << "1;2;3;4";
            listRow(which, "add after one removed") << "1;2;3" << "1;3" << "4" << "1;3;4";
            listRow(which, "remove after one added") << "1;2" << "0;1;2" << QString() << "1;2";
            listRow(which, "add after a rewrite") << "1" << "2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20" << "21"
                                                 << "2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21";
        }
        // clang-format on
    }

    void editShowsTheStoredList()
    {
        QFETCH(QString, loaded);
        QFETCH(QString, meanwhile);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        const Twin &twin = currentTwin();
        reset(settingsWithList(twin.group, loaded));
        FakeShell shell;
        const auto gui = makeGui(shell);
        ZListBox *list = box(*gui, twin.box);
        writeFile(programDir() + "Callvane.cfg", settingsWithList(twin.group, meanwhile));
        if (typed.isNull()) {
            list->setCurrentRow(0);
            (gui.get()->*twin.remove)();
        } else {
            typeInNextDialog(typed);
            (gui.get()->*twin.add)();
        }
        QCOMPARE(storedValue(twin.group, "Num"), expected);
        QCOMPARE(guitest::rows(list).join(';'), expected);
    }

    void removeWithoutCurrentRowDoesNothing_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("stored");
        for (int which = 0; which < 2; ++which) {
            listRow(which, "empty list") << "";
            listRow(which, "no row chosen") << "111;222";
        }
    }

    void removeWithoutCurrentRowDoesNothing()
    {
        QFETCH(QString, stored);
        const Twin &twin = currentTwin();
        reset(settingsWithList(twin.group, stored));
        FakeShell shell;
        shell.setDaemonRunning(true);
        const auto gui = makeGui(shell);
        ZListBox *list = box(*gui, twin.box);
        list->setCurrentRow(-1);
        const QStringList before = guitest::rows(list);
        // Gone behind the window's back: a write would create it, a reload would empty the box.
        QFile::remove(programDir() + "Callvane.cfg");
        shell.commands.clear();
        (gui.get()->*twin.remove)();
        QVERIFY(shell.commands.empty());
        QVERIFY(!QFile::exists(programDir() + "Callvane.cfg"));
        QCOMPARE(guitest::rows(list), before);
    }

    void cancelWritesNothing_data()
    {
        QTest::addColumn<int>("which");
        for (int which = 0; which < 2; ++which)
            listRow(which, "");
    }

    void cancelWritesNothing()
    {
        const Twin &twin = currentTwin();
        reset(settingsWithList(twin.group, "111"));
        FakeShell shell;
        shell.setDaemonRunning(true);
        const auto gui = makeGui(shell);
        writeFile(programDir() + "Callvane.cfg", settingsWithList(twin.group, "111;222")); // shows on a reload
        const QByteArray changed = settings();
        shell.commands.clear();
        onNextDialog([](QWidget *dialog) {
            QTest::keyClicks(dialog->focusWidget(), "555");
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Escape);
        });
        (gui.get()->*twin.add)();
        QCOMPARE(settings(), changed);
        QVERIFY(shell.commands.empty());
        QCOMPARE(guitest::rows(box(*gui, twin.box)), QStringList{"111"});
    }

    // With the daemon ON the restart runs after the write and before the reload.
    void restartOnlyWhenOn_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<bool>("probeFileMade");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("adding");
        for (int which = 0; which < 2; ++which) {
            for (const bool adding : {true, false}) {
                const char *what = adding ? "add" : "remove";
                QTest::addRow("%s: %s, ON", kTwins[which].group, what) << which << true << true << adding;
                QTest::addRow("%s: %s, OFF", kTwins[which].group, what) << which << true << false << adding;
                QTest::addRow("%s: %s, never probed", kTwins[which].group, what) << which << false << false << adding;
            }
        }
    }

    void restartOnlyWhenOn()
    {
        QFETCH(bool, probeFileMade);
        QFETCH(bool, running);
        QFETCH(bool, adding);
        const Twin &twin = currentTwin();
        reset(settingsWithList(twin.group, "111;222"));
        FakeShell shell;
        shell.setDaemonRunning(running);
        if (!probeFileMade)
            shell.probeOutput.reset();
        const auto gui = makeGui(shell);
        ZListBox *list = box(*gui, twin.box);
        list->setCurrentRow(0);
        shell.commands.clear();
        QByteArray copied;
        int rowsAtRestart = -1;
        shell.spy = [&](const std::string &command) {
            if (command.find("Callvane.cfg ") != std::string::npos)
                copied = settings();
            if (command.find("exec ") == 0)
                rowsAtRestart = list->count();
        };
        if (adding)
            typeInNextDialog("333");
        (gui.get()->*(adding ? twin.add : twin.remove))();
        const QString expected = adding ? "111;222;333" : "222";
        if (running) {
            QVERIFY(shell.commands == restartCommands());
            QVERIFY(copied.contains("Num = " + expected.toUtf8()));
            QCOMPARE(rowsAtRestart, 2);
        } else {
            QVERIFY(shell.commands.empty());
        }
        QCOMPARE(guitest::rows(list).join(';'), expected);
    }

    void addDialogShowsTheTextRightly_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ASCII") << QByteArray("Add number") << "Add number";
        QTest::newRow("UTF-8") << QByteArray("A\xc3\xb1" "adir n\xc3\xbamero") << QString::fromUtf8("Añadir número");
        QTest::newRow("UTF-8 read as Latin-1") << QByteArray("A\xc3\x83\xc2\xb1" "adir") << QString::fromUtf8("Añadir");
        // clang-format on
    }

    void addDialogShowsTheTextRightly()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, shown);
        QByteArray language = readFile(programDir() + "languages/Test");
        language.replace("MAIN_ADD = MAIN_ADD", "MAIN_ADD = " + stored);
        writeFile(programDir() + "languages/Test", language);
        FakeShell shell;
        const auto gui = makeGui(shell);
        onNextDialog([&](QWidget *dialog) {
            auto *capture = qobject_cast<ZSingleCaptureDlg *>(dialog);
            QVERIFY(capture != nullptr);
            QCOMPARE(capture->title(), shown);
            QCOMPARE(capture->prompt(), shown);
            QCOMPARE(dialog->focusWidget(), static_cast<QWidget *>(capture->getLineEdit()));
            QCOMPARE(capture->getLineEdit()->text(), QString());
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        gui->addNumber1();
    }
};

CALLVANE_GUI_TEST_MAIN(TestNumbers)
#include "tst_numbers.moc"
