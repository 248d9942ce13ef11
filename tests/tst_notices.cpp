// The daemon's notices of blocked calls, read back from a real notification server (dunst, on
// Xvfb) on a private session bus.

#include "e2etest.h"
#include "firewall/blockedcalllog.h"
#include "firewall/blockednotice.h"
#include "firewall/storage.h"
#include "tests/sessionrig.h"
#include "tests/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace e2etest;
using testfiles::writeFile;

namespace {

bool startDaemon(const QByteArray &language)
{
    return deployAndStart("[Callvane]\nLanguage = " + language
                          + "\nFirewall = Blacklist\nBlockUnknown = Yes\n[Blacklist]\nNum = +34 600 11 22 33;112\n");
}

} // namespace

class TestNotices : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    SessionRig m_session;
    QProcess *m_server = nullptr;
    QByteArray m_address;

    bool startServer()
    {
        m_server = &m_session.start("dunst", {"-config", m_dir.filePath("dunstrc")});
        return m_server->waitForStarted() && QTest::qWaitFor(serverAnswers, 5000);
    }

    // dunstctl's output; empty when the server does not answer.
    static QByteArray dunstctl(const QString &command)
    {
        QProcess process;
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start("dunstctl", {command});
        process.waitForFinished();
        return process.exitCode() == 0 ? process.readAllStandardOutput() : QByteArray();
    }

    static bool serverAnswers() { return !dunstctl("is-paused").isEmpty(); }

    // Closes what is shown, so that all is in the history; the summaries, oldest first.
    static QStringList history()
    {
        dunstctl("close-all");
        QStringList summaries;
        const QJsonArray notices = QJsonDocument::fromJson(dunstctl("history"))["data"][0].toArray();
        for (const QJsonValue &notice : notices)
            summaries.prepend(notice["summary"]["data"].toString());
        return summaries;
    }

private slots:
    void initTestCase()
    {
        if (!inPrivatePidNamespace())
            QSKIP("runs only as PID 1 of a private PID namespace (tests/in-pid-namespace)");
        qputenv(firewall::Storage::kDirVariable, QFile::encodeName(m_dir.path() + "/"));
        qputenv("CALLVANE_REGION", "ES");
        qputenv(firewall::BlockedNotice::kLanguagesVariable, CALLVANE_PROGRAM_DIR "/languages");
        // Nothing but the server started here answers for notices.
        writeFile(m_dir.filePath("dunstrc"), "[global]\nnotification_limit = 0\n");
        QVERIFY2(m_session.startBus(), qPrintable(m_session.error()));
        QVERIFY2(m_session.startDisplay("720x1440x24"), qPrintable(m_session.error()));
        m_address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        QVERIFY(startServer());
    }

    void cleanup()
    {
        stopDaemons();
        QFile::remove(QString::fromStdString(firewall::Storage::fromEnvironment().blockedCalls()));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address);
        // A new server, with an empty history.
        m_server->kill();
        m_server->waitForFinished();
        QVERIFY(startServer());
    }

    void aNoticeForEachBlockedCall_data()
    {
        QTest::addColumn<QByteArray>("language");
        QTest::addColumn<QByteArray>("caller");
        QTest::addColumn<QString>("notice");
        QTest::newRow("Spanish, a number")
            << QByteArray("Spanish") << QByteArray("600 11 22 33") << "Llamada bloqueada de 600 11 22 33";
        QTest::newRow("Spanish, withheld")
            << QByteArray("Spanish") << QByteArray() << "Llamada bloqueada de Número oculto";
        QTest::newRow("German, a short code")
            << QByteArray("German") << QByteArray("112") << "Blockierter Anruf von 112";
        QTest::newRow("no such language")
            << QByteArray("../Klingon") << QByteArray("600112233") << "Blocked call from 600112233";
        QTest::newRow("a right-to-left override in the caller's ID, shown for what it is")
            << QByteArray("English")
            << QByteArray("\xE2\x80\xAE"
                          "600112233")
            << "Blocked call from \uFFFD600112233";
    }

    void aNoticeForEachBlockedCall()
    {
        QFETCH(QByteArray, language);
        QFETCH(QByteArray, caller);
        QFETCH(QString, notice);
        QVERIFY(startDaemon(language));
        QCOMPARE(ring("600999999"), QString("allow"));
        QCOMPARE(ring(caller), QString("block"));
        QTRY_COMPARE(history(), QStringList{notice});
    }

    // Calls are answered at once while the server hangs or is not there; notices resume
    // when it is back.
    void screeningNeverWaitsForNotices_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("stopped") << "stopped";
        QTest::newRow("gone") << "gone";
        QTest::newRow("no session bus") << "no bus";
    }

    void screeningNeverWaitsForNotices()
    {
        QFETCH(QString, server);
        if (server == "no bus")
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.filePath("no-bus")));
        QVERIFY(startDaemon("English"));
        if (server == "stopped")
            ::kill(static_cast<pid_t>(m_server->processId()), SIGSTOP);
        if (server == "gone") {
            m_server->kill();
            m_server->waitForFinished();
        }
        constexpr int kCalls = 24; // more than the notices the daemon lets wait for an answer
        QElapsedTimer answering;
        answering.start();
        for (int call = 0; call < kCalls; ++call)
            QCOMPARE(ring("600112233"), QString("block"));
        if (kWallClockBounds)
            QVERIFY2(answering.elapsed() < 3000, qPrintable(QString::number(answering.elapsed())));
        QTRY_COMPARE(firewall::calllog::read(firewall::Storage::fromEnvironment().blockedCalls()).size(),
                     size_t(kCalls));
        if (server == "no bus")
            return;
        if (server == "stopped") {
            ::kill(static_cast<pid_t>(m_server->processId()), SIGCONT);
            QTRY_VERIFY(!history().isEmpty()); // it has answered those that waited
        } else {
            QVERIFY(startServer());
        }
        QCOMPARE(ring("112"), QString("block"));
        QTRY_VERIFY(history().contains("Blocked call from 112"));
    }
};

int main(int argc, char **argv)
{
    e2etest::runUnderInit();
    QCoreApplication application(argc, argv);
    TestNotices test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_notices.moc"
