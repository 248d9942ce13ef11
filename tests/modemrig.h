#pragma once

#include "atmodem.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QVariantList>

#include <memory>

// The real ModemManager on a private D-Bus that it, and every program started after the rig,
// takes for the system bus (DBUS_SYSTEM_BUS_ADDRESS), with an AtModem as its modem and
// python3-dbusmock's polkit authority (which allows ModemManager's actions unless told not
// to). Nothing here is an imitation of ModemManager: only the hardware and polkit are.
class ModemRig
{
public:
    static inline const QString kService = "org.freedesktop.ModemManager1";
    static inline const QString kVoice = "org.freedesktop.ModemManager1.Modem.Voice";
    static inline const QString kCall = "org.freedesktop.ModemManager1.Call";

    // Work files (bus socket, modem socket, ModemManager's log) go to `dir`.
    explicit ModemRig(const QString &dir);
    ~ModemRig();
    ModemRig(const ModemRig &) = delete;
    ModemRig &operator=(const ModemRig &) = delete;

    // The bus, the polkit authority and ModemManager with an enabled modem; false, with the
    // reason in error(), when one of them does not come up.
    bool start();
    QString error() const { return m_error; }
    QString busAddress() const { return m_address; }

    // ModemManager alone: stopped (SIGTERM, as systemd does), or started with the modem enabled.
    void stopModemManager();
    bool startModemManager();

    AtModem &modem() { return *m_modem; }
    QString modemPath() const;
    QDBusConnection bus() const;

    // Whether polkit lets ModemManager hang up calls.
    void allowHangup(bool allow);
    // A method call to ModemManager (or, with `service`, to another name).
    QDBusMessage call(const QString &path, const QString &interface, const QString &method,
                      const QVariantList &arguments = {}, const QString &service = kService) const;
    // An outgoing call placed through ModemManager, as a dialler does; its D-Bus path.
    QString dial(const QString &number) const;
    // The D-Bus path of a call of ModemManager's in `state` (MMCallState), or "" if it has none.
    QString callInState(int state) const;

private:
    bool startProcess(QProcess &process, const QString &program, const QStringList &arguments,
                      const QString &waitForName);
    bool enableModem();

    QString m_dir;
    QString m_address;
    QString m_error;
    QProcess m_bus;
    QProcess m_polkit;
    QProcess m_modemManager;
    std::unique_ptr<AtModem> m_modem;
    int m_modems = 0; // modems ModemManager has made since it started
};
