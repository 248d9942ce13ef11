#include "app/zgui.h"
#include "ezx/zlistbox.h"
#include "ezx/zlistboxitem.h"
#include "firewall/blockedcalllog.h"
#include "firewall/storage.h"
#include "guitest.h"

#include <QTest>

using namespace guitest;

namespace {

QString logPath()
{
    return storageDir() + ".blockedcalls";
}

void removeRow(ZGui &gui, int row)
{
    box(gui, "registerBox")->setCurrentRow(row);
    gui.removeCall();
}

} // namespace

class TestRegister : public QObject
{
    Q_OBJECT

private slots:
    void init() { reset(); }

    void cleanup() { QVERIFY(allDialogsAnswered()); }

    void load_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("missing log") << QByteArray() << QStringList{};
        QTest::newRow("empty log") << QByteArray("") << QStringList{};
        QTest::newRow("blank lines skipped") << QByteArray("123\nA\n\n\n456\nB") << QStringList{"123|A", "456|B"};
        QTest::newRow("last without detail") << QByteArray("123\nA\n456\n") << QStringList{"123|A", "456|"};
        QTest::newRow("unknown only when exact")
            << QByteArray("unknown\nd1\nUnknown\nd2\nunknown \nd3\n")
            << QStringList{"UNKNOWN_NUMBER|d1", "Unknown|d2", "unknown |d3"};
        // clang-format on
    }

    void load()
    {
        QFETCH(QByteArray, log);
        QFETCH(QStringList, rows);
        if (!log.isNull())
            writeFile(logPath(), log);
        FakeShell shell;
        const auto gui = makeGui(shell);
        QCOMPARE(guitest::rows(box(*gui, "registerBox")), rows);
    }

    void remove_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<int>("row");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("second of three") << QByteArray("1\na\n2\nb\n3\nc\n") << 1 << QByteArray("1\na\n3\nc\n\n")
                                         << QStringList{"1|a", "3|c"};
        QTest::newRow("the only row") << QByteArray("1\na\n") << 0 << QByteArray("\n") << QStringList{};
        QTest::newRow("an unknown caller's row") << QByteArray("unknown\na\n2\nb\n") << 0 << QByteArray("2\nb\n\n")
                                                 << QStringList{"2|b"};
        QTest::newRow("unknown written back as unknown") << QByteArray("unknown\na\n2\nb\n") << 1
                                                         << QByteArray("unknown\na\n\n")
                                                         << QStringList{"UNKNOWN_NUMBER|a"};
        QTest::newRow("shell text byte for byte")
            << QByteArray("\"$(touch pwned)\"\n`touch pwned`; echo \\\"\n\xff\xfe\nlatin-1 \xe9\n") << 1
            << QByteArray("\"$(touch pwned)\"\n`touch pwned`; echo \\\"\n\n")
            << QStringList{"\"$(touch pwned)\"|`touch pwned`; echo \\\""};
        QTest::newRow("a number that reads as the withheld text: nothing lost")
            << QByteArray("UNKNOWN_NUMBER\na\nunknown\nb\n") << 0 << QByteArray("UNKNOWN_NUMBER\na\nunknown\nb\n")
            << QStringList{"UNKNOWN_NUMBER|a", "UNKNOWN_NUMBER|b"};
        QTest::newRow("no row chosen: nothing written") << QByteArray("1\na\n") << -1 << QByteArray("1\na\n")
                                                        << QStringList{"1|a"};
        // clang-format on
    }

    void remove()
    {
        QFETCH(QByteArray, log);
        QFETCH(int, row);
        QFETCH(QByteArray, expected);
        QFETCH(QStringList, rows);
        writeFile(logPath(), log);
        FakeShell shell;
        const auto gui = makeGui(shell);
        shell.commands.clear();
        const QString saved = QDir::currentPath();
        QDir::setCurrent(storageDir());
        removeRow(*gui, row);
        QDir::setCurrent(saved);
        QVERIFY(shell.commands.empty()); // the log never passes through a shell
        QCOMPARE(readFile(logPath()), expected);
        QCOMPARE(guitest::rows(box(*gui, "registerBox")), rows);
        QVERIFY(!QFile::exists(storageDir() + "pwned"));
    }

    void removeWithEmptyBoxWritesNothing()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        gui->removeCall();
        QVERIFY(!QFile::exists(logPath()));
    }

    void removeViaMenuKeepsTheCursorsPlace()
    {
        writeFile(logPath(), "1\na\n2\nb\n3\nc\n");
        FakeShell shell;
        const auto gui = makeGui(shell);
        showTab(*gui, 3);
        ZListBox *calls = box(*gui, "registerBox");
        calls->setCurrentRow(2);
        runMenuItem(*gui, 0);
        QCOMPARE(guitest::rows(calls), (QStringList{"1|a", "2|b"}));
        QCOMPARE(calls->currentItem(), 1);
        runMenuItem(*gui, 0);
        QCOMPARE(calls->currentItem(), 0);
        QCOMPARE(readFile(logPath()), QByteArray("1\na\n\n"));
    }

    // A call the daemon logs after the tab was loaded is kept, and shown.
    void callLoggedAfterLoadSurvives()
    {
        writeFile(logPath(), "1\na\n2\nb\n");
        FakeShell shell;
        const auto gui = makeGui(shell);
        QVERIFY(firewall::calllog::append(firewall::Storage::fromEnvironment().blockedCalls(),
                                          firewall::Storage::fromEnvironment().blockedCallsLock(), {"late", "c"}));
        removeRow(*gui, 0);
        QCOMPARE(readFile(logPath()), QByteArray("2\nb\nlate\nc\n\n"));
        QCOMPARE(guitest::rows(box(*gui, "registerBox")), (QStringList{"2|b", "late|c"}));
    }

    void unknownTextEqualToTheStatusLabelOpensItsDialog()
    {
        QByteArray language = readFile(programDir() + "languages/Test");
        language.replace("UNKNOWN_NUMBER = UNKNOWN_NUMBER", "UNKNOWN_NUMBER = MENU_UNKNOWN");
        writeFile(programDir() + "languages/Test", language);
        writeFile(logPath(), "unknown\na\n123\nb\n");
        FakeShell shell;
        const auto gui = makeGui(shell);
        ZListBox *calls = box(*gui, "registerBox");
        calls->setCurrentRow(1);
        QTest::keyClick(calls, Qt::Key_Return);
        QVERIFY(dialogTitles().isEmpty());
        cancelNextDialog();
        calls->setCurrentRow(0);
        QTest::keyClick(calls, Qt::Key_Return);
        QCOMPARE(dialogTitles(), QStringList{"MENU_UNKNOWN"});
    }
};

CALLVANE_GUI_TEST_MAIN(TestRegister)
#include "tst_register.moc"
