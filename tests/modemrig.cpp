#include "modemrig.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

namespace {

const QString kRoot = "/org/freedesktop/ModemManager1";
const QString kPolkit = "org.freedesktop.PolicyKit1";
const QString kPolkitPath = "/org/freedesktop/PolicyKit1/Authority";
const QString kMock = "org.freedesktop.DBus.Mock";
const QString kProperties = "org.freedesktop.DBus.Properties";
const QString kConnection = "modemrig";

// MMModemState
constexpr int kDisabled = 3;
constexpr int kEnabled = 6;

template <typename Condition> bool waitFor(Condition condition, int ms = 10000)
{
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

} // namespace

ModemRig::ModemRig(const QString &dir)
    : m_dir(dir)
{
}

ModemRig::~ModemRig()
{
    stopModemManager();
    QDBusConnection::disconnectFromBus(kConnection);
    for (QProcess *process : {&m_polkit, &m_bus}) {
        process->kill();
        process->waitForFinished();
    }
}

QDBusConnection ModemRig::bus() const
{
    return QDBusConnection(kConnection);
}

bool ModemRig::start()
{
    m_bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1", "--address=unix:path=" + m_dir + "/bus"});
    if (!m_bus.waitForReadyRead(5000)) {
        m_error = "dbus-daemon did not start";
        return false;
    }
    m_address = QString::fromLatin1(m_bus.readLine()).trimmed();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toLatin1());
    if (!QDBusConnection::connectToBus(m_address, kConnection).isConnected()) {
        m_error = "cannot connect to the private bus";
        return false;
    }
    if (!startProcess(m_polkit, "/usr/bin/python3", {"-m", "dbusmock", "--system", "--template", "polkitd"}, kPolkit))
        return false;
    allowHangup(true);
    m_modem = std::make_unique<AtModem>(m_dir + "/modem");
    if (!m_modem->listening()) {
        m_error = "the modem cannot listen at " + m_dir + "/modem";
        return false;
    }
    return startModemManager();
}

bool ModemRig::startProcess(QProcess &process, const QString &program, const QStringList &arguments,
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

bool ModemRig::startModemManager()
{
    m_modems = 0;
    // Without --test-session it runs on the "system" bus and asks polkit, as on a phone.
    if (!startProcess(m_modemManager, "/usr/sbin/ModemManager",
                      {"--test-enable", "--test-no-udev", "--test-no-suspend-resume", "--debug"}, kService))
        return false;
    const QDBusMessage made = call(kRoot, "org.freedesktop.ModemManager1.Test", "SetProfile",
                                   {"callvane", "generic", QStringList{m_dir + "/modem"}});
    if (made.type() != QDBusMessage::ReplyMessage) {
        m_error = "SetProfile: " + made.errorMessage();
        return false;
    }
    ++m_modems;
    return enableModem();
}

bool ModemRig::enableModem()
{
    const auto state = [this] {
        const QDBusMessage reply =
            call(modemPath(), kProperties, "Get", {"org.freedesktop.ModemManager1.Modem", "State"});
        return reply.arguments().value(0).value<QDBusVariant>().variant().toInt();
    };
    if (!waitFor([&] { return state() >= kDisabled; })) {
        m_error = "the modem did not come up";
        return false;
    }
    const QDBusMessage enabled = call(modemPath(), "org.freedesktop.ModemManager1.Modem", "Enable", {true});
    if (enabled.type() != QDBusMessage::ReplyMessage || !waitFor([&] { return state() >= kEnabled; })) {
        m_error = "the modem was not enabled: " + enabled.errorMessage();
        return false;
    }
    return true;
}

// It disables the modem on its way out: the modem, in this thread, must go on answering.
void ModemRig::stopModemManager()
{
    m_modemManager.terminate();
    if (!waitFor([this] { return m_modemManager.state() == QProcess::NotRunning; })) {
        m_modemManager.kill();
        m_modemManager.waitForFinished();
    }
}

QString ModemRig::modemPath() const
{
    return kRoot + "/Modem/" + QString::number(m_modems - 1);
}

void ModemRig::allowHangup(bool allow)
{
    call(kPolkitPath, kMock, "SetAllowed",
         {QStringList{"org.freedesktop.ModemManager1.Device.Control",
                      allow ? "org.freedesktop.ModemManager1.Voice" : "org.freedesktop.ModemManager1.Time"}},
         kPolkit);
}

QDBusMessage ModemRig::call(const QString &path, const QString &interface, const QString &method,
                            const QVariantList &arguments, const QString &service) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    // The modem answers ModemManager from this thread: keep its events going meanwhile. Not
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

QString ModemRig::dial(const QString &number) const
{
    const QDBusMessage made = call(modemPath(), kVoice, "CreateCall", {QVariantMap{{"number", number}}});
    const QString path = made.arguments().value(0).value<QDBusObjectPath>().path();
    call(path, kCall, "Start");
    return path;
}

QString ModemRig::callInState(int state) const
{
    const QDBusMessage listed = call(modemPath(), kVoice, "ListCalls");
    const QDBusArgument paths = listed.arguments().value(0).value<QDBusArgument>();
    QList<QDBusObjectPath> calls;
    paths >> calls;
    for (const QDBusObjectPath &path : calls) {
        const QDBusMessage reply = call(path.path(), kProperties, "Get", {kCall, "State"});
        if (reply.arguments().value(0).value<QDBusVariant>().variant().toInt() == state)
            return path.path();
    }
    return {};
}
