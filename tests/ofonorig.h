#pragma once

#include "telephonyrig.h"

// oFono, its phonesim plugin's modem served by the AtModem over TCP. oFono reads the modem's
// address from /etc/ofono/phonesim.conf: it runs in a mount namespace of its own where the
// rig's files lie over /etc/ofono and /var/lib/ofono. The bus allows what oFono's own policy
// file allows.
class OfonoRig : public TelephonyRig
{
public:
    explicit OfonoRig(const QString &dir);
    // The folder oFono's files are under: CALLVANE_OFONO_ROOT, else "" (installed).
    static QString root();

    bool start() override;
    bool startService() override;
    QString service() const override { return "org.ofono"; }
    QString modemPath() const override { return "/phonesim"; }
    QString callIn(CallState state) const override;
    bool answer(const QString &call) const override;
    QString dial(const QString &number) const override;
    void hangUpAll() const override;
    QByteArray networkCode() const override;
    QDBusMessage change(const QString &call, const QString &number) const override;
    QStringList callAddedAndHangup() const override;
};
