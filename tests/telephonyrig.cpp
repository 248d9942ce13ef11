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
    if (!m_session.startBus("DBUS_SYSTEM_BUS_ADDRESS", config)) {
        m_error = m_session.error();
        return false;
    }
    if (!QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS"), kConnection).isConnected()) {
        m_error = "cannot connect to the private bus";
        return false;
    }
    return true;
}

bool TelephonyRig::startProcess(const QString &program, const QStringList &arguments, const QString &name)
{
    const QString log = m_dir + "/" + name + ".log";
    QProcess &process = m_session.start(program, arguments, log);
    if (name == service())
        m_service = &process;
    if (!waitFor([&] { return bus().interface()->isServiceRegistered(name).value(); })) {
        m_error = program + " did not take " + name + " (see " + log + ")";
        return false;
    }
    return true;
}

// The service may speak to the modem on its way out: the modem, in this thread, must go on
// answering.
void TelephonyRig::stopService()
{
    if (m_service == nullptr)
        return;
    m_service->terminate();
    if (!waitFor([this] { return m_service->state() == QProcess::NotRunning; })) {
        m_service->kill();
        m_service->waitForFinished();
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
