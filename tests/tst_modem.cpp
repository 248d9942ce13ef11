// The daemon against a fake ModemManager (python3-dbusmock) on a private bus, which it takes
// for the system bus through DBUS_SYSTEM_BUS_ADDRESS.

#include "blockedcalllog.h"
#include "e2etest.h"
#include "storage.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace e2etest;

namespace {

const QString kService = "org.freedesktop.ModemManager1";
const QString kRoot = "/org/freedesktop/ModemManager1";
const QString kVoice = "org.freedesktop.ModemManager1.Modem.Voice";
const QString kCall = "org.freedesktop.ModemManager1.Call";
const QString kMock = "org.freedesktop.DBus.Mock";

enum Direction : uint { Incoming = 1, Outgoing = 2 };
constexpr int kRingingIn = 3;

// dbusmock's description of a method: name, in and out signatures, Python code.
struct MockMethod
{
    QString name, in, out, code;
};

QDBusArgument &operator<<(QDBusArgument &argument, const MockMethod &method)
{
    argument.beginStructure();
    argument << method.name << method.in << method.out << method.code;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, MockMethod &method)
{
    argument.beginStructure();
    argument >> method.name >> method.in >> method.out >> method.code;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(MockMethod)

class TestModem : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_mock;
    QString m_address;
    int m_calls = 0;

    QDBusConnection bus() const { return QDBusConnection("test"); }

    // A method of dbusmock's own interface on the object at `path`.
    QDBusMessage mock(const QString &path, const QString &method, const QVariantList &arguments) const
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, path, kMock, method);
        call.setArguments(arguments);
        return bus().call(call);
    }

    bool startMock()
    {
        // It logs every call: unread, its output would fill the pipe and stop it.
        m_mock.setStandardOutputFile(QProcess::nullDevice());
        m_mock.setStandardErrorFile(QProcess::nullDevice());
        m_mock.start("/usr/bin/python3", {"-m", "dbusmock", "--system", kService, kRoot, "org.freedesktop.DBus.ObjectManager"});
        for (int i = 0; i < 500 && !bus().interface()->isServiceRegistered(kService); ++i)
            QTest::qWait(10);
        return bus().interface()->isServiceRegistered(kService) && addModem(0);
    }

    void stopMock()
    {
        m_mock.kill();
        m_mock.waitForFinished();
        QTRY_VERIFY(!bus().interface()->isServiceRegistered(kService));
    }

    bool addModem(int modem)
    {
        const QDBusMessage reply = mock(kRoot, "AddObject",
                                        {kRoot + "/Modem/" + QString::number(modem), kVoice, QVariantMap(),
                                         QVariant::fromValue(QList<MockMethod>())});
        return reply.type() == QDBusMessage::ReplyMessage;
    }

    // A new call on `modem`; its path.
    QString ring(const QString &number, uint direction = Incoming, int modem = 0)
    {
        const QString path = kRoot + "/Call/" + QString::number(++m_calls);
        const QVariantMap properties{{"Number", number}, {"Direction", direction}, {"State", kRingingIn}};
        mock(kRoot, "AddObject",
             {path, kCall, properties, QVariant::fromValue(QList<MockMethod>{{"Hangup", "", "", ""}})});
        mock(kRoot + "/Modem/" + QString::number(modem), "EmitSignal",
             {kVoice, "CallAdded", "o", QVariantList{QVariant::fromValue(QDBusObjectPath(path))}});
        return path;
    }

    int hangups(const QString &call) const
    {
        const QDBusMessage reply = mock(call, "GetMethodCalls", {"Hangup"});
        if (reply.type() != QDBusMessage::ReplyMessage)
            return -1;
        const QDBusArgument calls = reply.arguments().value(0).value<QDBusArgument>();
        int count = 0;
        calls.beginArray();
        while (!calls.atEnd()) {
            quint64 time = 0;
            QVariantList arguments;
            calls.beginStructure();
            calls >> time >> arguments;
            calls.endStructure();
            ++count;
        }
        calls.endArray();
        return count;
    }

    static std::vector<control::calllog::Entry> logged()
    {
        return control::calllog::read(control::storage::blockedCallsPath());
    }

    static QString storage() { return QString::fromStdString(control::storage::dir()); }

    static bool startDaemon(const QByteArray &blockUnknown = "Yes", const QString &errors = "/dev/null")
    {
        QFile::remove(storage() + ".blacklist");
        QFile settings(storage() + ".Callvane.cfg");
        if (!QFile::copy(CALLVANE_PROGRAM_DIR "/blacklist", storage() + ".blacklist")
            || !settings.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        settings.write("[Callvane]\nFirewall = Blacklist\nBlockUnknown = " + blockUnknown
                       + "\n[Blacklist]\nNum = +34 600 11 22 33\n");
        settings.close();
        const QByteArray command = QFile::encodeName(storage() + ".blacklist") + " 2>" + QFile::encodeName(errors);
        return std::system(command.constData()) == 0 && daemonListens();
    }

    // Once the daemon hangs up a black-listed call, it watches the bus; the register is
    // emptied after.
    bool daemonWatches()
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            const QString call = ring("600112233");
            for (int i = 0; i < 10 && hangups(call) == 0; ++i)
                QTest::qWait(10);
            if (hangups(call) > 0) {
                for (int i = 0; i < 100 && logged().empty(); ++i)
                    QTest::qWait(10);
                QFile::remove(QString::fromStdString(control::storage::blockedCallsPath()));
                return true;
            }
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        if (!inPrivatePidNamespace())
            QSKIP("runs only as PID 1 of a private PID namespace (tests/in-pid-namespace)");
        qDBusRegisterMetaType<MockMethod>();
        qDBusRegisterMetaType<QList<MockMethod>>();
        qputenv(control::storage::kDirVariable, QFile::encodeName(m_dir.path() + "/"));
        qputenv("CALLVANE_REGION", "ES");
        m_bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1",
                                    "--address=unix:path=" + m_dir.filePath("bus")});
        QVERIFY(m_bus.waitForReadyRead(5000));
        m_address = QString::fromLatin1(m_bus.readLine()).trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toLatin1());
        QVERIFY(QDBusConnection::connectToBus(m_address, "test").isConnected());
    }

    void init() { QVERIFY(startMock()); }

    void cleanup()
    {
        stopDaemons();
        stopMock();
        QFile::remove(QString::fromStdString(control::storage::blockedCallsPath()));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus("test");
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void callsAreScreened_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<uint>("direction");
        QTest::addColumn<QByteArray>("blockUnknown");
        QTest::addColumn<QString>("logged"); // empty: let through, not hung up
        QTest::newRow("black-listed") << "+34600112233" << uint(Incoming) << QByteArray("No") << "+34600112233";
        QTest::newRow("national form") << "600 11 22 33" << uint(Incoming) << QByteArray("No") << "600 11 22 33";
        QTest::newRow("allowed") << "600999999" << uint(Incoming) << QByteArray("Yes") << "";
        QTest::newRow("withheld, blocked") << "" << uint(Incoming) << QByteArray("Yes") << "unknown";
        QTest::newRow("withheld, let through") << "" << uint(Incoming) << QByteArray("No") << "";
        QTest::newRow("outgoing to a black-listed number") << "600112233" << uint(Outgoing) << QByteArray("Yes") << "";
    }

    void callsAreScreened()
    {
        QFETCH(QString, number);
        QFETCH(uint, direction);
        QFETCH(QByteArray, blockUnknown);
        QFETCH(QString, logged);
        QVERIFY(startDaemon(blockUnknown));
        QVERIFY(daemonWatches());
        const QString call = ring(number, direction);
        if (logged.isEmpty()) {
            QTest::qWait(2 * 500); // past the wait for a withheld number
            QCOMPARE(hangups(call), 0);
            QVERIFY(this->logged().empty());
        } else {
            QTRY_COMPARE(hangups(call), 1);
            QTRY_COMPARE(this->logged().size(), size_t(1));
            QCOMPARE(QString::fromStdString(this->logged().front().number), logged);
        }
    }

    // The number comes after the call, with a change of its properties.
    void numberArrivingLater()
    {
        QVERIFY(startDaemon("No"));
        QVERIFY(daemonWatches());
        const QString call = ring("");
        QTest::qWait(100);
        mock(call, "UpdateProperties", {kCall, QVariantMap{{"Number", "600112233"}}});
        QTRY_COMPARE(hangups(call), 1);
        QTRY_COMPARE(logged().size(), size_t(1));
        QCOMPARE(logged().front().number, std::string("600112233"));
    }

    void modemAddedAfterStart()
    {
        QVERIFY(startDaemon());
        QVERIFY(daemonWatches());
        QVERIFY(addModem(1));
        const QString call = ring("600112233", Incoming, 1);
        QTRY_COMPARE(hangups(call), 1);
    }

    // ModemManager absent when the daemon starts, or killed and started again.
    void modemManagerComesAndGoes_data()
    {
        QTest::addColumn<bool>("startedAfterTheDaemon");
        QTest::newRow("started after the daemon") << true;
        QTest::newRow("killed and restarted") << false;
    }

    void modemManagerComesAndGoes()
    {
        QFETCH(bool, startedAfterTheDaemon);
        if (startedAfterTheDaemon)
            stopMock();
        QVERIFY(startDaemon());
        if (!startedAfterTheDaemon) {
            QVERIFY(daemonWatches());
            stopMock();
        }
        QCOMPARE(e2etest::ring("600112233"), QString("block")); // the socket serves meanwhile
        QVERIFY(startMock());
        QVERIFY(daemonWatches());
        const QString call = ring("600112233");
        QTRY_COMPARE(hangups(call), 1);
    }

    void withoutABusTheSocketServes()
    {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.filePath("no-bus")));
        const QString errors = m_dir.filePath("errors");
        const bool started = startDaemon("Yes", errors);
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toLatin1());
        QVERIFY(started);
        QCOMPARE(e2etest::ring("600112233"), QString("block"));
        QFile said(errors);
        QVERIFY(said.open(QIODevice::ReadOnly));
        QCOMPARE(said.readAll().count("no system D-Bus"), 1);
    }

    // 1,000 calls as fast as the fake modem makes them: every one hung up and logged.
    void floodLosesNothing()
    {
        QVERIFY(startDaemon());
        QVERIFY(daemonWatches());
        QStringList calls;
        for (int i = 0; i < 1000; ++i)
            calls.append(ring(i % 2 == 0 ? "600112233" : "+34 600 11 22 33"));
        QTRY_COMPARE_WITH_TIMEOUT(logged().size(), size_t(1000), 20000);
        for (const QString &call : {calls.first(), calls.at(500), calls.last()})
            QCOMPARE(hangups(call), 1);
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
