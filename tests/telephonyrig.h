#pragma once

#include "atmodem.h"
#include "tests/sessionrig.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QVariantList>

#include <memory>

// A real telephony service (ModemManager or oFono) on a private D-Bus that it, and every
// program started after the rig, takes for the system bus (DBUS_SYSTEM_BUS_ADDRESS), with an
// AtModem as its modem. Nothing here imitates the service: only the hardware is simulated.
class TelephonyRig
{
public:
    enum class CallState { Ringing, Active };

    // Of the service that CALLVANE_TELEPHONY names ("ofono", else ModemManager). Work files
    // (bus socket, the service's log) go to `dir`.
    static std::unique_ptr<TelephonyRig> make(const QString &dir);
    virtual ~TelephonyRig();
    TelephonyRig(const TelephonyRig &) = delete;
    TelephonyRig &operator=(const TelephonyRig &) = delete;

    // The bus, and the service with its modem ready for calls; false, with the reason in
    // error(), when one of them does not come up.
    virtual bool start() = 0;
    QString error() const { return m_error; }
    // The service alone: stopped (SIGTERM, as systemd does), or started with the modem ready.
    void stopService();
    virtual bool startService() = 0;
    // Its process, as a bench stops it (SIGSTOP) to have a service that does not answer.
    qint64 servicePid() const { return m_service->processId(); }

    AtModem &modem() { return *m_modem; }
    QDBusConnection bus() const;
    virtual QString service() const = 0;
    virtual QString modemPath() const = 0;

    // The D-Bus path of a call of the service's in `state`, or "".
    virtual QString callIn(CallState state) const = 0;
    virtual bool answer(const QString &call) const = 0;
    // An outgoing call placed through the service, as a dialler does; its D-Bus path.
    virtual QString dial(const QString &number) const = 0;
    virtual void hangUpAll() const = 0;
    // Whether the service may hang up calls (where a policy decides it).
    virtual void allowHangup(bool /*allow*/) { }
    // The operator code of the network, once the service has read it from the modem.
    virtual QByteArray networkCode() const = 0;
    // The signal by which the service says that a call's number is `number`, or that the
    // call ended (`number` null).
    virtual QDBusMessage change(const QString &call, const QString &number) const = 0;
    // The call-added signal (interface, member) and the interface whose Hangup() ends a call.
    virtual QStringList callAddedAndHangup() const = 0;

    // A method call to the service (or, with `destination`, to another name).
    QDBusMessage call(const QString &path, const QString &interface, const QString &method,
                      const QVariantList &arguments = {}, const QString &destination = {}) const;

protected:
    explicit TelephonyRig(const QString &dir);
    // The bus, with `config` (dbus-daemon's) or the tests' private one.
    bool startBus(const QString &config = {});
    // `program`, once it has taken `name` on the bus; the service's process where `name` is
    // service().
    bool startProcess(const QString &program, const QStringList &arguments, const QString &name);
    static bool waitFor(const std::function<bool()> &condition, int ms = 10000);

    QString m_dir;
    QString m_error;
    SessionRig m_session;
    QProcess *m_service = nullptr;
    std::unique_ptr<AtModem> m_modem;
};
