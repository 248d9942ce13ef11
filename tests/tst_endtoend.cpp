#include "app/zgui.h"
#include "e2etest.h"
#include "ezx/zlistbox.h"
#include "firewall/blockedcalllog.h"
#include "firewall/storage.h"
#include "guitest.h"

#include <QRegularExpression>
#include <QTest>

using namespace guitest;
using namespace e2etest;

namespace {

const QByteArray kSettings = "[Callvane]\nLanguage = Test\nFirewall = Blacklist\n"
                             "[Blacklist]\nNum = +34 600 11 22 33;112\n";

// The window with the real shell: real cp, exec, ps, busybox killall.
std::unique_ptr<ZGui> makeRealGui()
{
    return std::make_unique<ZGui>(QString(), nullptr, nullptr, 0, nullptr);
}

QString stateRow(ZGui &gui)
{
    return rows(box(gui, "statusBox")).value(0);
}

void chooseOnStatusRow(ZGui &gui, int row, int downs)
{
    chooseInNextDialog(downs);
    ZListBox *status = box(gui, "statusBox");
    status->setCurrentRow(row);
    QTest::keyClick(status, Qt::Key_Return);
}

void switchFirewall(ZGui &gui, bool on)
{
    chooseOnStatusRow(gui, 0, on ? 0 : 1);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!inPrivatePidNamespace())
            QSKIP("runs only as PID 1 of a private PID namespace (unshare --pid --fork --mount-proc)");
        qputenv("CALLVANE_REGION", "ES");
    }

    void init()
    {
        reset(kSettings);
        QVERIFY(QFile::copy(CALLVANE_PROGRAM_DIR "/blacklist", programDir() + "blacklist"));
    }

    void cleanup()
    {
        stopDaemons();
        QVERIFY(allDialogsAnswered());
    }

    void switchOnChangeModeSwitchOff()
    {
        const auto gui = makeRealGui();
        QCOMPARE(stateRow(*gui), QString("MAIN_STATE|OPTIONS_DISABLED"));
        QVERIFY(QFile::exists(storageDir() + ".blacklist"));

        switchFirewall(*gui, true);
        QCOMPARE(stateRow(*gui), QString("MAIN_STATE|OPTIONS_ENABLED"));
        QCOMPARE(gui->daemonState(), QString("ON"));
        QTRY_COMPARE(daemonPids().size(), size_t(1));
        const pid_t first = daemonPids().front();
        QCOMPARE(commandLine(first), storageDir() + ".blacklist");
        QCOMPARE(ring("600112233"), QString("block"));
        QCOMPARE(ring("600999999"), QString("allow"));

        // On again: the new start takes over, and it is the one daemon.
        switchFirewall(*gui, true);
        QCOMPARE(stateRow(*gui), QString("MAIN_STATE|OPTIONS_ENABLED"));
        QTRY_VERIFY(soleDaemon() != 0 && soleDaemon() != first);
        const pid_t second = soleDaemon();
        QCOMPARE(ring("600112233"), QString("block"));

        // White-list mode while on: restarted with the new settings copy.
        chooseOnStatusRow(*gui, 1, 1);
        QVERIFY(readFile(storageDir() + ".Callvane.cfg").contains("Firewall = Whitelist"));
        QTRY_VERIFY(soleDaemon() != 0 && soleDaemon() != second);
        QTRY_VERIFY(daemonListens());
        QCOMPARE(ring("600999999"), QString("block"));
        QCOMPARE(stateRow(*gui), QString("MAIN_STATE|OPTIONS_ENABLED"));

        switchFirewall(*gui, false);
        QCOMPARE(stateRow(*gui), QString("MAIN_STATE|OPTIONS_DISABLED"));
        QCOMPARE(gui->daemonState(), QString("OFF"));
        QTRY_VERIFY(daemonPids().empty());
        QCOMPARE(ring("600112233"), QString());
    }

    // A full storage disk cuts the settings copy: the firewall shows Off, with no daemon
    // left on a cut or an older copy.
    void fullDiskLeavesNoDaemonOnACutCopy()
    {
        const SmallDisk disk(programDir() + "small", 64 * 1024);
        if (!disk.mounted())
            QSKIP("cannot mount a small tmpfs here (needs a mount namespace of our own)");
        const auto gui = makeRealGui();
        switchFirewall(*gui, true);
        QCOMPARE(stateRow(*gui), QString("MAIN_STATE|OPTIONS_ENABLED"));

        QByteArray numbers;
        for (int i = 0; i < 20000; ++i)
            numbers += ";+34 7" + QByteArray::number(10000000 + i);
        writeFile(programDir() + "Callvane.cfg", kSettings.trimmed() + numbers + ";600999999\n");
        switchFirewall(*gui, true);
        QCOMPARE(stateRow(*gui), QString("MAIN_STATE|OPTIONS_DISABLED"));
        QTRY_VERIFY(daemonPids().empty());
    }

    // Without a settings file of its own (it needs none), the deployed copy already there
    // serves: the copy that was not made is no copy cut short.
    void switchesOnWithoutASettingsFile()
    {
        const auto gui = makeRealGui();
        QVERIFY(QFile::remove(programDir() + "Callvane.cfg"));
        switchFirewall(*gui, true);
        QCOMPARE(stateRow(*gui), QString("MAIN_STATE|OPTIONS_ENABLED"));
        QTRY_VERIFY(daemonListens());
        QCOMPARE(ring("600112233"), QString("block"));
    }

    void changesWhileOffWaitForTheNextSwitchOn()
    {
        const auto gui = makeRealGui();
        chooseOnStatusRow(*gui, 1, 1); // white list, firewall off
        QVERIFY(readFile(storageDir() + ".Callvane.cfg").contains("Firewall = Blacklist"));
        QVERIFY(daemonPids().empty());
        switchFirewall(*gui, true);
        QVERIFY(readFile(storageDir() + ".Callvane.cfg").contains("Firewall = Whitelist"));
        QTRY_VERIFY(daemonListens());
        QCOMPARE(ring("600112233"), QString("block"));
    }

    void blockedCallsReachTheRegister()
    {
        {
            const auto gui = makeRealGui();
            switchFirewall(*gui, true);
            QTRY_VERIFY(daemonListens());
            QCOMPARE(ring("600112233"), QString("block"));
            QCOMPARE(ring("600999999"), QString("allow"));
            QCOMPARE(firewall::calllog::read(firewall::Storage::fromEnvironment().blockedCalls()).size(), size_t(1));
        }
        // Leaving the window leaves the daemon running.
        QCOMPARE(daemonPids().size(), size_t(1));
        const auto gui = makeRealGui();
        const QStringList calls = rows(box(*gui, "registerBox"));
        QCOMPARE(calls.size(), 1);
        QVERIFY2(
            QRegularExpression("^600112233\\|\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(calls[0]).hasMatch(),
            qPrintable(calls[0]));
        QCOMPARE(stateRow(*gui), QString("MAIN_STATE|OPTIONS_ENABLED"));
    }

    void addingANumberWhileOnRestartsWithIt()
    {
        const auto gui = makeRealGui();
        switchFirewall(*gui, true);
        QTRY_VERIFY(daemonListens());
        QCOMPARE(ring("+34 911 23 45 67"), QString("allow"));
        showTab(*gui, 1);
        typeInNextDialog("911234567");
        runMenuItem(*gui, 0);
        // Whichever daemon answers first, the restarted one must block it.
        QTRY_COMPARE(ring("+34 911 23 45 67"), QString("block"));
        // The old daemon lets go of its lock as soon as it is told to stop, so that the new one
        // takes over at once; it may still be ending when the new one answers.
        QTRY_COMPARE(daemonPids().size(), size_t(1));
    }
};

int main(int argc, char **argv)
{
    e2etest::runUnderInit();
    TestEndToEnd test;
    return guitest::run(&test, argc, argv);
}
#include "tst_endtoend.moc"
