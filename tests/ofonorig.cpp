#include "ofonorig.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QFile>

namespace {

const QString kCallManager = "org.ofono.VoiceCallManager";
const QString kCall = "org.ofono.VoiceCall";

bool write(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// The a{sv} of each object of an a(oa{sv}) reply, by its path.
QMap<QString, QVariantMap> objects(const QDBusMessage &reply)
{
    QMap<QString, QVariantMap> found;
    const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QDBusObjectPath path;
        QVariantMap properties;
        list.beginStructure();
        list >> path >> properties;
        list.endStructure();
        found.insert(path.path(), properties);
    }
    list.endArray();
    return found;
}

} // namespace

OfonoRig::OfonoRig(const QString &dir)
    : TelephonyRig(dir)
{
}

// Where oFono's files are: its package installed (/), or unpacked where it conflicts with
// ModemManager (Debian 13).
QString OfonoRig::root()
{
    return qEnvironmentVariable("CALLVANE_OFONO_ROOT");
}

bool OfonoRig::start()
{
    m_modem = std::make_unique<AtModem>();
    const QByteArray dir = QFile::encodeName(m_dir);
    if (!m_modem->listening() || !QDir(m_dir).mkpath("etc-ofono") || !QDir(m_dir).mkpath("var-lib-ofono")
        || !write(m_dir + "/etc-ofono/phonesim.conf",
                  "[phonesim]\nAddress=127.0.0.1\nPort=" + QByteArray::number(m_modem->tcpPort()) + "\n")
        || !write(
            m_dir + "/bus.conf",
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
            "  <listen>unix:path="
                + dir
                + "/bus</listen>\n  <auth>EXTERNAL</auth>\n"
                  "  <policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>\n"
                  "  <include>"
                + QFile::encodeName(root()) + "/etc/dbus-1/system.d/ofono.conf</include>\n</busconfig>\n")) {
        m_error = "cannot lay out the modem and oFono's files in " + m_dir;
        return false;
    }
    return startBus(m_dir + "/bus.conf") && startService();
}

bool OfonoRig::startService()
{
    const QString mounts = QString("mount --bind '%1/etc-ofono' /etc/ofono && mount --bind '%1/var-lib-ofono' "
                                   "/var/lib/ofono && exec '%2/usr/sbin/ofonod' --nodetach --debug")
                               .arg(m_dir, root());
    if (!startProcess("unshare", {"--mount", "sh", "-c", mounts}, service()))
        return false;
    for (const char *property : {"Powered", "Online"}) {
        const QDBusMessage set =
            call(modemPath(), "org.ofono.Modem", "SetProperty", {property, QVariant::fromValue(QDBusVariant(true))});
        if (set.type() != QDBusMessage::ReplyMessage) {
            m_error = QString("the modem was not made %1: %2").arg(property, set.errorMessage());
            return false;
        }
    }
    if (!waitFor([this] { return !networkCode().isEmpty(); })) {
        m_error = "the modem did not register on the network";
        return false;
    }
    return true;
}

QString OfonoRig::callIn(CallState state) const
{
    const QMap<QString, QVariantMap> calls = objects(call(modemPath(), kCallManager, "GetCalls"));
    for (auto it = calls.cbegin(); it != calls.cend(); ++it) {
        if (it->value("State") == (state == CallState::Ringing ? "incoming" : "active"))
            return it.key();
    }
    return {};
}

bool OfonoRig::answer(const QString &path) const
{
    return call(path, kCall, "Answer").type() == QDBusMessage::ReplyMessage;
}

QString OfonoRig::dial(const QString &number) const
{
    return call(modemPath(), kCallManager, "Dial", {number, ""}).arguments().value(0).value<QDBusObjectPath>().path();
}

void OfonoRig::hangUpAll() const
{
    call(modemPath(), kCallManager, "HangupAll");
}

QByteArray OfonoRig::networkCode() const
{
    const QVariantMap properties = qdbus_cast<QVariantMap>(
        call(modemPath(), "org.ofono.NetworkRegistration", "GetProperties").arguments().value(0));
    return properties.value("MobileCountryCode").toByteArray() + properties.value("MobileNetworkCode").toByteArray();
}

QDBusMessage OfonoRig::change(const QString &path, const QString &number) const
{
    QDBusMessage signal = QDBusMessage::createSignal(path, kCall, "PropertyChanged");
    signal.setArguments(number.isNull()
                            ? QVariantList{"State", QVariant::fromValue(QDBusVariant("disconnected"))}
                            : QVariantList{"LineIdentification", QVariant::fromValue(QDBusVariant(number))});
    return signal;
}

QStringList OfonoRig::callAddedAndHangup() const
{
    return {kCallManager, "CallAdded", kCall};
}
