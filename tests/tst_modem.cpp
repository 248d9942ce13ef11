// The daemon against the real ModemManager, or oFono (CALLVANE_TELEPHONY=ofono), whose modem
// is simulated (AtModem), on a private bus that both take for the system bus. A call counts as
// hung up when the modem receives the hang-up command.

#include "e2etest.h"
#include "firewall/blockedcalllog.h"
#include "firewall/storage.h"
#include "telephonyrig.h"
#include "tests/testfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace e2etest;
using Comes = AtModem::NumberComes;
using CallState = TelephonyRig::CallState;

namespace {

// Past the daemon's wait for a number, and for a waiting call's index.
constexpr int kUndecidedMs = 4500;

QString storage()
{
    return QString::fromStdString(firewall::Storage::fromEnvironment().dir());
}

QStringList logged()
{
    QStringList numbers;
    for (const auto &entry : firewall::calllog::read(firewall::Storage::fromEnvironment().blockedCalls()))
        numbers.append(QString::fromStdString(entry.number));
    return numbers;
}

} // namespace

Q_DECLARE_METATYPE(AtModem::NumberComes)
Q_DECLARE_METATYPE(AtModem::Hangups)

class TestModem : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TelephonyRig> m_rig;

    AtModem &modem() { return m_rig->modem(); }

    QString errorsPath() const { return m_dir.filePath("daemon-errors"); }
    QString errors() const { return QString::fromUtf8(testfiles::readFile(errorsPath())); }

    bool startDaemon(const QByteArray &blockUnknown = "Yes", const QByteArray &numbers = "+34 600 11 22 33") const
    {
        return deployAndStart("[Callvane]\nFirewall = Blacklist\nBlockUnknown = " + blockUnknown
                                  + "\n[Blacklist]\nNum = " + numbers + "\n",
                              errorsPath());
    }

    // Rings and waits until the service has the call.
    QString ringAndWait(const QByteArray &number, Comes comes = Comes::WithRing)
    {
        modem().ring(number, comes);
        QString call;
        return QTest::qWaitFor([&] { return !(call = m_rig->callIn(CallState::Ringing)).isEmpty(); }, 5000) ? call
                                                                                                            : QString();
    }

private slots:
    void initTestCase()
    {
        if (!inPrivatePidNamespace())
            QSKIP("runs only as PID 1 of a private PID namespace (tests/in-pid-namespace)");
        qputenv(firewall::Storage::kDirVariable, QFile::encodeName(m_dir.path() + "/"));
        qputenv("CALLVANE_REGION", "ES");
        m_rig = TelephonyRig::make(m_dir.path());
        QVERIFY2(m_rig->start(), qPrintable(m_rig->error()));
    }

    // Every call ended, and the modem as new.
    bool endCalls()
    {
        m_rig->hangUpAll();
        modem().reset();
        return QTest::qWaitFor(
            [&] { return m_rig->callIn(CallState::Ringing).isEmpty() && m_rig->callIn(CallState::Active).isEmpty(); },
            5000);
    }

    void cleanup()
    {
        stopDaemons();
        m_rig->allowHangup(true);
        QVERIFY(endCalls());
        QFile::remove(QString::fromStdString(firewall::Storage::fromEnvironment().blockedCalls()));
        QFile::remove(QString::fromStdString(firewall::Storage::fromEnvironment().callsPlaced()));
        QFile::remove(errorsPath());
    }

    void cleanupTestCase() { m_rig.reset(); }

    void callsAreScreened_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("number");
        QTest::addColumn<Comes>("comes");
        QTest::addColumn<QByteArray>("blockUnknown");
        QTest::addColumn<QString>("logged"); // empty: let through, never hung up
        QTest::newRow("national form, with RING") << QByteArray("600112233") << Comes::WithRing << QByteArray("No")
                                                  << "600112233";
        QTest::newRow("international form, after RING")
            << QByteArray("+34600112233") << Comes::AfterRing << QByteArray("No") << "+34600112233";
        QTest::newRow("only in the call list") << QByteArray("600112233") << Comes::OnlyInCallList
                                               << QByteArray("No") << "600112233";
        QTest::newRow("withheld, blocked") << QByteArray() << Comes::Withheld << QByteArray("Yes") << "unknown";
        QTest::newRow("withheld, let through") << QByteArray() << Comes::Withheld << QByteArray("No") << "";
        QTest::newRow("not listed") << QByteArray("600999999") << Comes::WithRing << QByteArray("Yes") << "";
        QTest::newRow("1,000 digits") << "600112233" + QByteArray(1000, '9') << Comes::WithRing
                                       << QByteArray("No") << "";
        QTest::newRow("control characters") << QByteArray("600\x01\x1b" "112233") << Comes::WithRing
                                             << QByteArray("No") << "";
        // clang-format on
    }

    void callsAreScreened()
    {
        QFETCH(QByteArray, number);
        QFETCH(Comes, comes);
        QFETCH(QByteArray, blockUnknown);
        QFETCH(QString, logged);
        QVERIFY(startDaemon(blockUnknown));
        modem().ring(number, comes);
        if (logged.isEmpty()) {
            QTest::qWait(kUndecidedMs);
            QCOMPARE(modem().hangups(), QStringList());
            QCOMPARE(::logged(), QStringList());
            QCOMPARE(e2etest::ring("600112233"), QString("block")); // screening goes on
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(modem().hangups().size(), 1, 6000);
            QTRY_COMPARE(::logged(), QStringList{logged});
            // oFono tells a withheld caller from one not yet known: no wait for a number.
            if (comes == Comes::Withheld && m_rig->service() == "org.ofono")
                QVERIFY2(modem().ringToHangupMs() < 1000, qPrintable(QString::number(modem().ringToHangupMs())));
        }
    }

    void outgoingCallsAreNeverTouched()
    {
        QVERIFY(startDaemon());
        QVERIFY(!m_rig->dial("600112233").isEmpty());
        QTest::qWait(kUndecidedMs);
        QCOMPARE(modem().hangups(), QStringList());
        QCOMPARE(modem().calls().size(), 1);
    }

    // Each step: "dial N" (the owner calls N through the service), "ring N block" or "ring N
    // allow" ("-" a withheld caller), "restart" (as every edit in the window does).
    void callsThatMatterGetThrough_data()
    {
        const QByteArray black = "[Callvane]\nFirewall = Blacklist\nBlockUnknown = Yes\n";
        const QByteArray white = "[Callvane]\nFirewall = Whitelist\nBlockUnknown = Yes\n";
        const QByteArray listed = "[Blacklist]\nNum = +34 600 11 22 33\n";
        // clang-format off
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("an emergency call: every caller, after a restart too") << black + listed
            << QStringList{"dial 112", "ring 600112233 allow", "ring - allow", "restart", "ring 600112233 allow"};
        QTest::newRow("the SIM's emergency number") << white << QStringList{"dial 333", "ring - allow"};
        QTest::newRow("EmergencyCallBack = 0; a black-listed number twice") << black + "EmergencyCallBack = 0\n" + listed
            << QStringList{"ring 600112233 block", "dial 112", "ring 600112233 block"};
        QTest::newRow("a stranger twice in white-list mode, a withheld caller twice") << white
            << QStringList{"ring 600999999 block", "ring 600999999 allow", "ring - block", "ring - block"};
        QTest::newRow("RepeatedCallers = 0") << white + "RepeatedCallers = 0\n"
            << QStringList{"ring 600999999 block", "ring 600999999 block"};
        QTest::newRow("a number the owner called, written otherwise, after a restart") << white
            << QStringList{"dial +34600999999", "ring 600999999 allow", "restart", "ring 600999999 allow"};
        QTest::newRow("CallBacks = 0") << white + "CallBacks = 0\n"
            << QStringList{"dial +34600999999", "ring 600999999 block"};
        // clang-format on
    }

    void callsThatMatterGetThrough()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, steps);
        QVERIFY(deployAndStart(settings, errorsPath()));
        int blocked = 0;
        for (const QString &step : steps) {
            const QStringList words = step.split(' ');
            if (words[0] == "restart") {
                QVERIFY(deployAndStart(settings, errorsPath()));
            } else if (words[0] == "dial") {
                QTest::qWait(500); // for the daemon to read the SIM's emergency numbers
                QVERIFY(!m_rig->dial(words[1]).isEmpty());
                QTRY_VERIFY(!modem().calls().isEmpty());
                QTest::qWait(1000); // for the daemon to hear of it
                QVERIFY(endCalls());
            } else {
                const bool withheld = words[1] == "-";
                modem().ring(withheld ? QByteArray() : words[1].toLatin1(),
                             withheld ? Comes::Withheld : Comes::WithRing);
                if (words[2] == "block") {
                    QTRY_COMPARE_WITH_TIMEOUT(modem().hangups().size(), 1, 6000);
                    ++blocked;
                } else {
                    QTest::qWait(kUndecidedMs);
                    QVERIFY2(modem().hangups().isEmpty(), qPrintable(step));
                }
                QVERIFY(endCalls());
            }
        }
        // The register lists the calls blocked, not those let through.
        QTRY_COMPARE(logged().isEmpty(), blocked == 0);
        if (steps.front().startsWith("dial 112") && !settings.contains("= 0"))
            QVERIFY2(errors().contains("no call is blocked until"), qPrintable(errors()));
    }

    // AT+CHUP, which ends every call, must not be what ends it: ModemManager sends it for a
    // call whose index it does not know yet, where AT+CHLD=1<index> ends that one; oFono sends
    // AT+CHLD=0 for a waiting call.
    void blockedWaitingCallKeepsTheActiveCall()
    {
        QVERIFY(startDaemon());
        const QString answered = ringAndWait("600999999");
        QVERIFY(m_rig->answer(answered));
        QTRY_COMPARE(m_rig->callIn(CallState::Active), answered);
        modem().ring("600112233");
        QTRY_COMPARE_WITH_TIMEOUT(modem().hangups().size(), 1, 8000);
        QCOMPARE(modem().calls().size(), 1);
        QCOMPARE(modem().calls().front().state, 0);
        QTRY_COMPARE(logged(), QStringList{"600112233"});
    }

    void serviceComesAndGoes_data()
    {
        QTest::addColumn<QString>("when");
        QTest::newRow("restarted") << "restarted";
        QTest::newRow("started after the daemon") << "started after";
        QTest::newRow("call ringing before the daemon starts") << "ringing before";
    }

    void serviceComesAndGoes()
    {
        QFETCH(QString, when);
        if (when == "ringing before")
            QVERIFY(!ringAndWait("600112233").isEmpty());
        if (when == "started after")
            m_rig->stopService();
        QVERIFY(startDaemon());
        if (when == "restarted")
            m_rig->stopService();
        QStringList entries{"600112233"};
        if (when != "ringing before") {
            QCOMPARE(e2etest::ring("600112233"), QString("block")); // the socket serves meanwhile
            entries.append("600112233");
            QVERIFY2(m_rig->startService(), qPrintable(m_rig->error()));
            modem().ring("600112233");
        }
        QTRY_COMPARE_WITH_TIMEOUT(modem().hangups().size(), 1, 6000);
        QTRY_COMPARE(logged(), entries);
    }

    // The daemon listens on its socket before it has read its lists; a call that rings
    // meanwhile is found once it turns to the telephony service.
    void callRingingWhileTheDaemonReadsItsLists()
    {
        QByteArray numbers = "+34 600 11 22 33";
        for (int i = 0; i < 300000; ++i)
            numbers += ";+34 7" + QByteArray::number(10000000 + i);
        QVERIFY(startDaemon("No", numbers));
        modem().ring("600112233");
        // 300,000 numbers take about 3 s here, 30 s on arm64 under emulation.
        QTRY_COMPARE_WITH_TIMEOUT(modem().hangups().size(), 1, 90000);
        QTRY_COMPARE(logged(), QStringList{"600112233"});
        QFile::remove(storage() + ".blacklist.keys");
    }

    // Logged is what was hung up, once a caller; each failure said once.
    void theRegisterSaysWhatHappened_data()
    {
        QTest::addColumn<AtModem::Hangups>("hangups");
        QTest::addColumn<bool>("allowed"); // by polkit, which ModemManager asks
        QTest::addColumn<int>("entries");
        QTest::addColumn<QString>("said");
        QTest::newRow("polkit refuses") << AtModem::Hangups::Release << false << 0
                                        << "org.freedesktop.ModemManager1.Error.Core.Unauthorized";
        QTest::newRow("modem answers ERROR") << AtModem::Hangups::Refuse << true << 0 << "did not hang up";
        QTest::newRow("network rings on") << AtModem::Hangups::Ignore << true << 1 << "";
    }

    void theRegisterSaysWhatHappened()
    {
        QFETCH(AtModem::Hangups, hangups);
        QFETCH(bool, allowed);
        QFETCH(int, entries);
        QFETCH(QString, said);
        const bool ofono = m_rig->service() == "org.ofono";
        if (!allowed && ofono)
            QSKIP("oFono asks no one before it hangs up");
        modem().setHangups(hangups);
        m_rig->allowHangup(allowed);
        QVERIFY(startDaemon());
        ringAndWait("600112233");
        QTest::qWait(kUndecidedMs);
        QCOMPARE(logged().size(), entries);
        if (!said.isEmpty())
            QCOMPARE(errors().count(said), 1);
        if (allowed)
            // ModemManager makes a new call for each RING it cannot end.
            QVERIFY2(modem().hangups().size() >= (ofono ? 1 : 2), qPrintable(modem().hangups().join(' ')));
        else
            QCOMPARE(modem().hangups(), QStringList());
    }

    // Two withheld calls are two entries, though the one-entry rule cannot tell their callers
    // apart.
    void twoWithheldCallsAreTwoEntries()
    {
        QVERIFY(startDaemon("Yes"));
        modem().ring({}, Comes::Withheld);
        QTest::qWait(4500);
        modem().ring({}, Comes::Withheld);
        QTRY_COMPARE_WITH_TIMEOUT(logged(), (QStringList{"unknown", "unknown"}), 10000);
    }

    // Only the owner of the service's name speaks for it.
    void forgedSignalsCountForNothing_data()
    {
        QTest::addColumn<QString>("number"); // null: the call ended
        QTest::newRow("a number for a call without one") << "600999999";
        QTest::newRow("a call without a number ended") << QString();
    }

    void forgedSignalsCountForNothing()
    {
        QFETCH(QString, number);
        QVERIFY(startDaemon("Yes"));
        const QString call = ringAndWait({}, Comes::Unavailable);
        QVERIFY(!call.isEmpty());
        QVERIFY(m_rig->bus().send(m_rig->change(call, number)));
        QTRY_COMPARE_WITH_TIMEOUT(modem().hangups().size(), 1, 6000);
        QTRY_COMPARE(logged(), QStringList{"unknown"});
    }

    // The SIM's home network gives the region where CALLVANE_REGION does not, before the
    // locale's; roaming, the numbers stay the SIM's country's. It is asked beside the calls.
    void regionOfTheNetwork_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<QByteArray>("imsi");
        QTest::addColumn<QByteArray>("operatorCode");
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QByteArray>("caller");
        QTest::newRow("C.UTF-8, a British SIM at home") << QByteArray("C.UTF-8") << QByteArray("234150000000001") << QByteArray("23415")
                                                       << QByteArray("07700 900123") << QByteArray("+447700900123");
        // The British SIM's region, that of the last start, serves until the network is asked.
        QTest::newRow("C.UTF-8, a Spanish SIM roaming in France") << QByteArray("C.UTF-8") << QByteArray("214070000000001") << QByteArray("20801")
                                                                 << QByteArray("600 11 22 33") << QByteArray("+34600112233");
        QTest::newRow("en_US.UTF-8, a Spanish SIM at home") << QByteArray("en_US.UTF-8") << QByteArray("214070000000001") << QByteArray("21407")
                                                           << QByteArray("600 11 22 33") << QByteArray("600112233");
        // clang-format on
    }

    void regionOfTheNetwork()
    {
        QFETCH(QByteArray, locale);
        QFETCH(QByteArray, imsi);
        QFETCH(QByteArray, operatorCode);
        QFETCH(QByteArray, entry);
        QFETCH(QByteArray, caller);
        const auto restore = qScopeGuard([] {
            qputenv("CALLVANE_REGION", "ES");
            qunsetenv("LANG");
            qunsetenv("TZ");
        });
        qunsetenv("CALLVANE_REGION");
        qputenv("LANG", locale);
        qputenv("TZ", "Etc/UTC");
        modem().setOperator(operatorCode);
        modem().setImsi(imsi);
        m_rig->stopService();
        QVERIFY2(m_rig->startService(), qPrintable(m_rig->error()));
        QTRY_COMPARE_WITH_TIMEOUT(m_rig->networkCode(), operatorCode, 10000);
        QVERIFY(startDaemon("No", entry));
        QTRY_VERIFY2(errors().contains("from the SIM's home network " + imsi.left(5) + ")"), qPrintable(errors()));
        QCOMPARE(e2etest::ring(caller), QString("block"));
    }

    // Debian's policy admits only root to oFono: another user is told in one line what to
    // allow, not the bus's rules.
    void aRefusalSaysWhatToAllow()
    {
        if (m_rig->service() != "org.ofono" || ::geteuid() != 0)
            QSKIP("oFono's refusal of a second user, which needs root to be one");
        QTemporaryDir storage;
        const QString errors = storage.filePath("errors");
        testfiles::writeFile(storage.filePath(".Callvane.cfg"), "[Callvane]\nFirewall = Blacklist\n");
        testfiles::writeFile(errors, "");
        QVERIFY(QFile::copy(CALLVANE_PROGRAM_DIR "/blacklist", storage.filePath(".blacklist")));
        for (const QString &file : {storage.path(), errors, storage.filePath(".Callvane.cfg")}) {
            if (::chown(QFile::encodeName(file).constData(), 65534, 65534) != 0)
                QSKIP("no second user here (a user namespace that maps root alone)");
        }
        // The bus's socket lies in the rig's private directory.
        const QString bus = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS").section('=', 1).section(',', 0, 0);
        QCOMPARE(::chmod(QFile::encodeName(QFileInfo(bus).path()).constData(), 0711), 0);
        const QByteArray start = "CALLVANE_STORAGE=" + QFile::encodeName(storage.path())
            + "/ setpriv --reuid=65534 "
              "--regid=65534 --clear-groups "
            + QFile::encodeName(storage.filePath(".blacklist")) + " 2>>" + QFile::encodeName(errors);
        QCOMPARE(std::system(start.constData()), 0);
        const auto stop = qScopeGuard([&storage] {
            const int pid = testfiles::readFile(storage.filePath(".blacklist.lock")).split('\n').front().toInt();
            if (pid > 1)
                ::kill(pid, SIGTERM);
        });
        QTRY_VERIFY2_WITH_TIMEOUT(testfiles::readFile(errors).contains("did not list its modems"),
                                  testfiles::readFile(errors).constData(), 5000);
        const QByteArray said = testfiles::readFile(errors);
        QVERIFY2(said.contains("allow send_destination=\"org.ofono\"") && !said.contains("Rejected"), said.constData());
    }

    void withoutABusTheSocketServes()
    {
        const QByteArray address = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.filePath("no-bus")));
        const bool started = startDaemon();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        QVERIFY(started);
        QCOMPARE(e2etest::ring("600112233"), QString("block"));
        QCOMPARE(errors().count("no system D-Bus"), 1);
    }
};

int main(int argc, char **argv)
{
    e2etest::runUnderInit();
    QCoreApplication application(argc, argv);
    TestModem test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_modem.moc"
