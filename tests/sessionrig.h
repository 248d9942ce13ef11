#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// The real components a test runs beside it: a private D-Bus (dbus-daemon), a virtual display
// (Xvfb), and what else the test starts there. Each start returns once the component is ready;
// each dies with the test's process, and the rig stops them, the last started first, when it
// goes.
class SessionRig
{
public:
    // Sockets, configuration and logs go to `dir`.
    explicit SessionRig(QString dir);
    ~SessionRig();
    SessionRig(const SessionRig &) = delete;
    SessionRig &operator=(const SessionRig &) = delete;

    // A bus listening at `dir`/`name`, configured by the file `config`, or else so that only
    // what the test starts answers there; its address, or "" with the reason in error().
    QByteArray startBus(const QString &name = "bus", const QString &config = {});
    // Xvfb with one screen (WIDTHxHEIGHTxDEPTH) and `arguments`; DISPLAY names it from then.
    bool startDisplay(const QByteArray &screen, const QStringList &arguments = {});
    // `program` with its output to `log` (none by default), not waited for.
    QProcess &start(const QString &program, const QStringList &arguments, const QString &log = QProcess::nullDevice());
    QString error() const { return m_error; }

private:
    // The first line `process` prints, or "" when it prints none within `ms`.
    QByteArray firstLine(QProcess &process, const QString &what, int ms);

    QString m_dir;
    QString m_error;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};
