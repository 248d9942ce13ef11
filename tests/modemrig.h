#pragma once

#include "telephonyrig.h"

// ModemManager, with python3-dbusmock's polkit authority (which allows ModemManager's actions
// unless told not to). Not the real polkitd: it authorizes uid 0 whatever its rules say, and
// the daemon under test runs as root (of a user namespace, for a normal user, where polkitd
// cannot become its own user either).
class ModemRig : public TelephonyRig
{
public:
    static inline const QString kService = "org.freedesktop.ModemManager1";
    static inline const QString kVoice = "org.freedesktop.ModemManager1.Modem.Voice";
    static inline const QString kCall = "org.freedesktop.ModemManager1.Call";

    explicit ModemRig(const QString &dir);

    bool start() override;
    bool startService() override;
    QString service() const override { return kService; }
    QString modemPath() const override;
    QString callIn(CallState state) const override;
    bool answer(const QString &call) const override;
    QString dial(const QString &number) const override;
    void hangUpAll() const override;
    void allowHangup(bool allow) override;
    QByteArray networkCode() const override;
    QDBusMessage change(const QString &call, const QString &number) const override;
    QStringList callAddedAndHangup() const override { return {kVoice, "CallAdded", kCall}; }

private:
    bool enableModem();

    int m_modems = 0; // modems ModemManager has made since it started
};
