#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>

// A GSM modem as ModemManager's generic plugin talks to it, on a UNIX socket that
// ModemManager opens as the modem's AT port (its Test.SetProfile), or as oFono's phonesim
// plugin does, on a TCP port. It answers the commands of probing, enabling and call handling, raises what a network
// raises for incoming calls (RING, +CRING, +CLIP, +CCWA; repeated every second while a call rings), answers +CLCC from
// its calls, and records every hang-up command it receives. Like many modems, AT+CHUP and ATH
// release every call; AT+CHLD=1<index> only that one, and AT+CHLD=0 the waiting one.
class AtModem : public QObject
{
    Q_OBJECT

public:
    // How the caller's number reaches ModemManager.
    enum class NumberComes {
        WithRing, // +CRING and +CLIP together
        AfterRing, // +CLIP a moment after +CRING
        OnlyInCallList, // no +CLIP: only the answer to +CLCC has it
        Withheld, // +CLIP with no number (the caller withheld it)
        Unavailable, // +CLIP with no number, which the network does not have
    };

    struct Call
    {
        int index = 0;
        bool incoming = true;
        int state = 4; // +CLCC's stat: 0 active, 2 dialling, 3 alerting, 4 incoming, 5 waiting
        QByteArray number;
    };

    explicit AtModem(const QString &socketPath, QObject *parent = nullptr);
    // On a TCP port of 127.0.0.1's.
    explicit AtModem(QObject *parent = nullptr);

    bool listening() const { return m_server.isListening() || m_tcpServer.isListening(); }
    quint16 tcpPort() const { return m_tcpServer.serverPort(); }

    // A call comes in: ringing, or waiting when another call is active. Its index.
    int ring(const QByteArray &number, NumberComes comes = NumberComes::WithRing);
    // The caller gives up: the call is gone from the call list.
    void endCall(int index);
    QList<Call> calls() const { return m_calls; }
    bool hasCall(int index) const;

    // The hang-up commands received while there were calls (AT+CHUP, ATH, AT+CHLD=0 or 1x), in order.
    QStringList hangups() const { return m_hangups; }
    // Milliseconds from the last ring() to the first hang-up command after it; -1 before.
    qint64 ringToHangupMs() const { return m_ringToHangup; }
    enum class Hangups {
        Release,
        Refuse, // ERROR, as a modem that cannot release the call
        Ignore, // OK, but the network goes on ringing
    };
    void setHangups(Hangups hangups) { m_hangupMode = hangups; }
    // The MCC and MNC of the network the modem is registered on (AT+COPS?), as ModemManager
    // reads it when it enables the modem.
    void setOperator(const QByteArray &code) { m_operator = code; }
    // The SIM's subscriber identity (AT+CIMI), whose first digits are its home network's.
    void setImsi(const QByteArray &imsi) { m_imsi = imsi; }
    // No calls, nothing recorded, hang-ups released.
    void reset();

private:
    void accept();
    void read();
    void handle(const QByteArray &command);
    QByteArray reply(const QByteArray &command);
    QByteArray hangUp(const QByteArray &command);
    QByteArray callList() const;
    void send(const QByteArray &text);
    void announce(const Call &call, NumberComes comes);
    void ringOn();
    int freeIndex() const;

    QLocalServer m_server;
    QTcpServer m_tcpServer;
    QPointer<QIODevice> m_port;
    QByteArray m_pending;
    QList<Call> m_calls;
    QList<std::pair<int, NumberComes>> m_ringing;
    QStringList m_hangups;
    QTimer m_ringTimer;
    QElapsedTimer m_sinceRing;
    qint64 m_ringToHangup = -1;
    Hangups m_hangupMode = Hangups::Release;
    QByteArray m_operator = "21407";
    QByteArray m_imsi = "214070000000001";
    bool m_operatorByName = false; // AT+COPS=3,0 asks for the operator's name, 3,2 for its code
};
