#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// The servers a test or bench runs beside it and the programs on them: a private D-Bus, a
// virtual display, a Wayland compositor. A start returns once its server serves; false (or
// empty), with the reason in error(), when it does not. Everything started here dies with the
// process, also one that crashes, and is otherwise stopped with the rig: SIGTERM, newest
// first.
class SessionRig
{
public:
    SessionRig() = default;
    ~SessionRig() { stop(); }
    SessionRig(const SessionRig &) = delete;
    SessionRig &operator=(const SessionRig &) = delete;

    // `program`, all it writes appended to `log`; with an empty `log`, its output read through
    // the process and its errors dropped.
    QProcess &start(const QString &program, const QStringList &arguments, const QString &log = QProcess::nullDevice());
    // A server that writes a line once it serves: that line, trimmed.
    QByteArray startServer(const QString &program, const QStringList &arguments, int ms = 30000);
    // dbus-daemon with `config`, by default tests/fixtures/private-bus.conf (nothing answers on
    // it but what the test starts); its address in this process's environment as `variable`.
    bool startBus(const char *variable = "DBUS_SESSION_BUS_ADDRESS", const QString &config = {});
    // Xvfb with one screen of `geometry` ("720x1440x24"), as this process's DISPLAY.
    bool startDisplay(const QString &geometry, const QStringList &options = {});
    // A Wayland compositor, serving once its socket is in $XDG_RUNTIME_DIR; the socket then as
    // this process's WAYLAND_DISPLAY (before, a compositor would take it for its host).
    bool startCompositor(const QString &program, const QStringList &arguments, const QString &log,
                         const QString &socket = "wayland-0");
    void stop();
    QString error() const { return m_error; }

private:
    std::vector<std::unique_ptr<QProcess>> m_processes; // in the order started
    QString m_error;
};
