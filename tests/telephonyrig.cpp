#include "telephonyrig.h"

#include "modemrig.h"
#include "ofonorig.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

namespace {

const QString kConnection = "telephonyrig";

} // namespace

std::unique_ptr<TelephonyRig> TelephonyRig::make(const QString &dir)
{
    if (qgetenv("CALLVANE_TELEPHONY") == "ofono")
        return std::make_unique<OfonoRig>(dir);
    return std::make_unique<ModemRig>(dir);
}

TelephonyRig::TelephonyRig(const QString &dir)
    : m_dir(dir)
{
}

TelephonyRig::~TelephonyRig()
{
    stopService();
    QDBusConnection::disconnectFromBus(kConnection);
    m_bus.kill();
    m_bus.waitForFinished();
}

QDBusConnection TelephonyRig::bus() const
{
    return QDBusConnection(kConnection);
}

bool TelephonyRig::waitFor(const std::function<bool()> &condition, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

bool TelephonyRig::startBus(const QString &config)
{
    m_bus.start("dbus-daemon",
                {config.isEmpty() ? "--session" : "--config-file=" + config, "--nofork", "--print-address=1",
                 "--address=unix:path=" + m_dir + "/bus"});
    if (!m_bus.waitForReadyRead(5000)) {
        m_error = "dbus-daemon did not start: " + m_bus.errorString() + m_bus.readAllStandardError();
        return false;
    }
    const QByteArray address = m_bus.readLine().trimmed();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    if (!QDBusConnection::connectToBus(QString::fromLatin1(address), kConnection).isConnected()) {
        m_error = "cannot connect to the private bus";
        return false;
    }
    return true;
}

bool TelephonyRig::startProcess(QProcess &process, const QString &program, const QStringList &arguments,
                                const QString &waitForName)
{
    // Unread, their output would fill the pipe and stop them.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(m_dir + "/" + waitForName + ".log", QIODevice::Append);
    process.start(program, arguments);
    if (!waitFor([&] { return bus().interface()->isServiceRegistered(waitForName).value(); })) {
        m_error = program + " did not take " + waitForName + " (see " + m_dir + "/" + waitForName + ".log)";
        return false;
    }
    return true;
}

// The service may speak to the modem on its way out: the modem, in this thread, must go on
// answering.
void TelephonyRig::stopService()
{
    m_service.terminate();
    if (!waitFor([this] { return m_service.state() == QProcess::NotRunning; })) {
        m_service.kill();
        m_service.waitForFinished();
    }
}

QDBusMessage TelephonyRig::call(const QString &path, const QString &interface, const QString &method,
                                const QVariantList &arguments, const QString &destination) const
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(destination.isEmpty() ? service() : destination, path, interface, method);
    message.setArguments(arguments);
    // The modem answers the service from this thread: keep its events going meanwhile. Not
    // with QDBus::BlockWithGui, whose event loop can miss a reply that comes at once and then
    // waits for ever.
    QDBusPendingCallWatcher watcher(bus().asyncCall(message, 10000));
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(11000, &loop, &QEventLoop::quit);
    if (!watcher.isFinished())
        loop.exec();
    return watcher.isFinished() ? watcher.reply()
                                : QDBusMessage::createError(QDBusError::Timeout, method + ": no reply");
}
