#include "modemrig.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace {

const QString kRoot = "/org/freedesktop/ModemManager1";
const QString kModem = "org.freedesktop.ModemManager1.Modem";
const QString kPolkit = "org.freedesktop.PolicyKit1";
const QString kProperties = "org.freedesktop.DBus.Properties";

// MMModemState
constexpr int kDisabled = 3;
constexpr int kEnabled = 6;

// MMCallState
constexpr int kRingingIn = 3;
constexpr int kActive = 4;
constexpr int kTerminated = 7;

} // namespace

ModemRig::ModemRig(const QString &dir)
    : TelephonyRig(dir)
{
}

bool ModemRig::start()
{
    if (!startBus()
        || !startProcess("/usr/bin/python3", {"-m", "dbusmock", "--system", "--template", "polkitd"}, kPolkit))
        return false;
    allowHangup(true);
    m_modem = std::make_unique<AtModem>(m_dir + "/modem");
    if (!m_modem->listening()) {
        m_error = "the modem cannot listen at " + m_dir + "/modem";
        return false;
    }
    return startService();
}

bool ModemRig::startService()
{
    m_modems = 0;
    // Without --test-session it runs on the "system" bus and asks polkit, as on a phone.
    if (!startProcess("/usr/sbin/ModemManager",
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
        const QDBusMessage reply = call(modemPath(), kProperties, "Get", {kModem, "State"});
        return reply.arguments().value(0).value<QDBusVariant>().variant().toInt();
    };
    if (!waitFor([&] { return state() >= kDisabled; })) {
        m_error = "the modem did not come up";
        return false;
    }
    const QDBusMessage enabled = call(modemPath(), kModem, "Enable", {true});
    if (enabled.type() != QDBusMessage::ReplyMessage || !waitFor([&] { return state() >= kEnabled; })) {
        m_error = "the modem was not enabled: " + enabled.errorMessage();
        return false;
    }
    return true;
}

QString ModemRig::modemPath() const
{
    return kRoot + "/Modem/" + QString::number(m_modems - 1);
}

void ModemRig::allowHangup(bool allow)
{
    call("/org/freedesktop/PolicyKit1/Authority", "org.freedesktop.DBus.Mock", "SetAllowed",
         {QStringList{"org.freedesktop.ModemManager1.Device.Control",
                      allow ? "org.freedesktop.ModemManager1.Voice" : "org.freedesktop.ModemManager1.Time"}},
         kPolkit);
}

QString ModemRig::dial(const QString &number) const
{
    const QDBusMessage made = call(modemPath(), kVoice, "CreateCall", {QVariantMap{{"number", number}}});
    const QString path = made.arguments().value(0).value<QDBusObjectPath>().path();
    call(path, kCall, "Start");
    return path;
}

bool ModemRig::answer(const QString &path) const
{
    return call(path, kCall, "Accept").type() == QDBusMessage::ReplyMessage;
}

void ModemRig::hangUpAll() const
{
    call(modemPath(), kVoice, "HangupAll");
}

QString ModemRig::callIn(CallState state) const
{
    const QDBusMessage listed = call(modemPath(), kVoice, "ListCalls");
    const QDBusArgument paths = listed.arguments().value(0).value<QDBusArgument>();
    QList<QDBusObjectPath> calls;
    paths >> calls;
    for (const QDBusObjectPath &path : calls) {
        const QDBusMessage reply = call(path.path(), kProperties, "Get", {kCall, "State"});
        if (reply.arguments().value(0).value<QDBusVariant>().variant().toInt()
            == (state == CallState::Ringing ? kRingingIn : kActive))
            return path.path();
    }
    return {};
}

QByteArray ModemRig::networkCode() const
{
    const QDBusMessage reply =
        call(modemPath(), kProperties, "Get", {"org.freedesktop.ModemManager1.Modem.Modem3gpp", "OperatorCode"});
    return reply.arguments().value(0).value<QDBusVariant>().variant().toByteArray();
}

QDBusMessage ModemRig::change(const QString &path, const QString &number) const
{
    QDBusMessage signal = QDBusMessage::createSignal(path, kProperties, "PropertiesChanged");
    const QVariantMap changed = number.isNull() ? QVariantMap{{"State", kTerminated}} : QVariantMap{{"Number", number}};
    signal.setArguments({kCall, changed, QStringList()});
    return signal;
}
