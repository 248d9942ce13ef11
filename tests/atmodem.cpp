#include "atmodem.h"

#include <QLocalSocket>
#include <QTcpSocket>

#include <algorithm>

namespace {

// Answers to the queries of probing and enabling; every other command is answered OK.
const QList<std::pair<QByteArray, QByteArray>> kAnswers = {
    {"AT+GCAP", "+GCAP: +CGSM,+FCLASS,+DS"},
    {"AT+CGMI", "Callvane"},
    {"AT+CGMM", "Simulated modem"},
    {"AT+CGMR", "1.0"},
    {"AT+CGSN", "490154203237518"},
    {"ATI", "Callvane simulated modem"},
    {"AT+CFUN?", "+CFUN: 1"},
    {"AT+CPIN?", "+CPIN: READY"},
    {"AT+CREG?", "+CREG: 2,1"},
    {"AT+CGREG?", "+CGREG: 2,1"},
    {"AT+CEREG?", "+CEREG: 2,1"},
    {"AT+CSQ", "+CSQ: 20,99"},
    {"AT+CRSM=176,12258,0,0,10", "+CRSM: 144,0,\"98341000000000000010\""}, // the SIM's ICCID
    {"AT+CRSM=176,28589,0,0,4", "+CRSM: 144,0,\"00000002\""}, // its MNC has two digits (EF_AD)
    {"AT+CRSM=192,28589", "+CRSM: 144,0,\"000000046FAD040000FF4401020000\""}, // EF_AD: 4 bytes, readable
    // EF_ECC, 15 bytes: its emergency number 333, which is none of the network's.
    {"AT+CRSM=192,28599", "+CRSM: 144,0,\"0000000F6FB7040000FF4401020000\""},
    {"AT+CRSM=176,28599,0,0,15", "+CRSM: 144,0,\"33F3FFFFFFFFFFFFFFFFFFFFFFFFFF\""},
    {"AT+SIMSTATE?", "+SIMSTATE: 1"}, // phonesim's: a SIM is in
    {"AT+CREG=?", "+CREG: (0-2)"},
};

QByteArray clip(const QByteArray &number, AtModem::NumberComes comes)
{
    const QByteArray type = number.startsWith('+') ? "145" : number.isEmpty() ? "128" : "129";
    // The last field says whether the number is shown (0), withheld (1) or not known (2).
    const char *validity = comes == AtModem::NumberComes::Unavailable ? ",,,,2" : number.isEmpty() ? ",,,,1" : ",,,,0";
    return "+CLIP: \"" + number + "\"," + type + validity;
}

} // namespace

AtModem::AtModem(const QString &socketPath, QObject *parent)
    : AtModem(parent)
{
    m_tcpServer.close();
    QLocalServer::removeServer(socketPath);
    m_server.listen(socketPath);
}

AtModem::AtModem(QObject *parent)
    : QObject(parent)
{
    m_tcpServer.listen(QHostAddress::LocalHost);
    connect(&m_server, &QLocalServer::newConnection, this, &AtModem::accept);
    connect(&m_tcpServer, &QTcpServer::newConnection, this, &AtModem::accept);
    m_ringTimer.setInterval(1000);
    connect(&m_ringTimer, &QTimer::timeout, this, &AtModem::ringOn);
    m_ringTimer.start();
}

// ModemManager closes the port after probing and opens it again to enable the modem: the
// newest connection is the port.
void AtModem::accept()
{
    for (QIODevice *socket = nullptr; (socket = m_server.nextPendingConnection()) != nullptr
         || (socket = m_tcpServer.nextPendingConnection()) != nullptr;) {
        connect(socket, &QIODevice::readyRead, this, &AtModem::read);
        connect(socket, SIGNAL(disconnected()), socket, SLOT(deleteLater()));
        m_port = socket;
        m_pending.clear();
    }
}

void AtModem::read()
{
    auto *socket = qobject_cast<QIODevice *>(sender());
    if (socket != m_port)
        return;
    m_pending += socket->readAll();
    for (qsizetype end; (end = m_pending.indexOf('\r')) >= 0;) {
        const QByteArray command = m_pending.left(end).trimmed();
        m_pending.remove(0, end + 1);
        if (!command.isEmpty())
            handle(command);
    }
}

void AtModem::handle(const QByteArray &command)
{
    const QByteArray answer = reply(command.toUpper());
    send(answer.isEmpty() ? QByteArray("OK") : answer);
}

// The lines before the final result code, and that code; empty for a plain OK.
QByteArray AtModem::reply(const QByteArray &command)
{
    for (const auto &[query, answer] : kAnswers) {
        if (command == query)
            return answer + "\r\n\r\nOK";
    }
    if (command == "AT+CIMI")
        return m_imsi + "\r\n\r\nOK";
    if (command.startsWith("AT+COPS=3,"))
        m_operatorByName = command.endsWith('0');
    if (command == "AT+COPS?")
        return m_operatorByName ? "+COPS: 0,0,\"Callvane\",7\r\n\r\nOK"
                                : "+COPS: 0,2,\"" + m_operator + "\",7\r\n\r\nOK";
    if (command == "AT+CLCC")
        return callList() + "OK";
    if (command == "ATH" || command == "AT+CHUP" || command.startsWith("AT+CHLD=1") || command == "AT+CHLD=0")
        return hangUp(command);
    if (command.startsWith("ATD")) {
        m_calls.append({freeIndex(), false, 0, command.mid(3).chopped(command.endsWith(';') ? 1 : 0)});
        return {};
    }
    if (command == "ATA") {
        const auto ringing = std::find_if(m_calls.begin(), m_calls.end(), [](const Call &c) { return c.state >= 4; });
        if (ringing == m_calls.end())
            return "NO CARRIER";
        ringing->state = 0;
        m_ringing.removeIf([index = ringing->index](const auto &r) { return r.first == index; });
    }
    return {};
}

QByteArray AtModem::hangUp(const QByteArray &command)
{
    if (m_calls.isEmpty())
        return {}; // ModemManager's ATH while it enables the modem
    if (m_hangups.isEmpty() || m_ringToHangup < 0)
        m_ringToHangup = m_sinceRing.elapsed();
    m_hangups.append(QString::fromLatin1(command));
    if (m_hangupMode != Hangups::Release)
        return m_hangupMode == Hangups::Refuse ? "ERROR" : "";
    if (command.startsWith("AT+CHLD=")) {
        const auto waiting = std::find_if(m_calls.begin(), m_calls.end(), [](const Call &c) { return c.state == 5; });
        const int index =
            command == "AT+CHLD=0" ? (waiting != m_calls.end() ? waiting->index : -1) : command.mid(9).toInt();
        if (!hasCall(index))
            return "ERROR";
        endCall(index);
    } else {
        m_calls.clear();
        m_ringing.clear();
    }
    return {};
}

QByteArray AtModem::callList() const
{
    QByteArray list;
    for (const Call &call : m_calls) {
        list += "+CLCC: " + QByteArray::number(call.index) + (call.incoming ? ",1," : ",0,")
            + QByteArray::number(call.state) + ",0,0,\"" + call.number + "\","
            + (call.number.startsWith('+') ? "145" : "129") + "\r\n";
    }
    return list.isEmpty() ? list : list + "\r\n";
}

void AtModem::send(const QByteArray &text)
{
    if (m_port != nullptr)
        m_port->write("\r\n" + text + "\r\n");
}

int AtModem::ring(const QByteArray &number, NumberComes comes)
{
    const bool busy = std::any_of(m_calls.begin(), m_calls.end(), [](const Call &c) { return c.state == 0; });
    const QByteArray listed =
        comes == NumberComes::Withheld || comes == NumberComes::Unavailable ? QByteArray() : number;
    const Call call{freeIndex(), true, busy ? 5 : 4, listed};
    m_calls.append(call);
    m_sinceRing.start();
    m_ringToHangup = -1;
    if (busy) {
        const QByteArray shown = comes == NumberComes::OnlyInCallList ? QByteArray() : listed;
        send("+CCWA: \"" + shown + "\"," + (shown.startsWith('+') ? "145" : "129") + ",1"); // class 1: voice
        return call.index;
    }
    m_ringing.append({call.index, comes});
    announce(call, comes);
    if (comes == NumberComes::AfterRing) {
        // Only to this call: a call ended since, and another given its index, has its own number.
        QTimer::singleShot(300, this, [this, index = call.index, listed] {
            if (std::any_of(m_calls.begin(), m_calls.end(),
                            [&](const Call &c) { return c.index == index && c.number == listed; }))
                send(clip(listed, NumberComes::WithRing));
        });
    }
    return call.index;
}

void AtModem::announce(const Call &call, NumberComes comes)
{
    send("+CRING: VOICE");
    if (comes != NumberComes::AfterRing && comes != NumberComes::OnlyInCallList)
        send(clip(call.number, comes));
}

void AtModem::ringOn()
{
    for (const auto &[index, comes] : m_ringing) {
        const auto call =
            std::find_if(m_calls.begin(), m_calls.end(), [i = index](const Call &c) { return c.index == i; });
        if (call != m_calls.end())
            announce(*call, comes == NumberComes::AfterRing ? NumberComes::WithRing : comes);
    }
}

void AtModem::endCall(int index)
{
    m_calls.removeIf([index](const Call &c) { return c.index == index; });
    m_ringing.removeIf([index](const auto &r) { return r.first == index; });
}

// As a network numbers calls: the lowest number no call has.
int AtModem::freeIndex() const
{
    int index = 1;
    while (hasCall(index))
        ++index;
    return index;
}

bool AtModem::hasCall(int index) const
{
    return std::any_of(m_calls.begin(), m_calls.end(), [index](const Call &c) { return c.index == index; });
}

void AtModem::reset()
{
    m_calls.clear();
    m_ringing.clear();
    m_hangups.clear();
    m_ringToHangup = -1;
    m_hangupMode = Hangups::Release;
}
