#include "tests/sessionrig.h"

#include "tests/testfiles.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

QProcess &SessionRig::start(const QString &program, const QStringList &arguments, const QString &log)
{
    QProcess &process = *m_processes.emplace_back(std::make_unique<QProcess>());
    // A server that outlives a crashed test runs on for ever: a compositor without its X
    // server logs without end.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    if (log.isEmpty()) {
        process.setStandardErrorFile(QProcess::nullDevice()); // dbus-daemon: it cannot raise its fd limit
    } else {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(log, QIODevice::Append);
    }
    process.start(program, arguments);
    return process;
}

QByteArray SessionRig::startServer(const QString &program, const QStringList &arguments, int ms)
{
    QProcess &server = start(program, arguments, {});
    // Xvfb writes its display number and the line's end apart.
    const QDeadlineTimer deadline(ms);
    while (!server.canReadLine() && server.waitForReadyRead(int(deadline.remainingTime()))) { }
    QByteArray line = server.canReadLine() ? server.readLine().trimmed() : QByteArray();
    if (line.isEmpty())
        m_error = program + " did not start: " + server.errorString();
    return line;
}

bool SessionRig::startBus(const char *variable, const QString &config)
{
    const QString file = config.isEmpty() ? testfiles::fixturePath("private-bus.conf") : config;
    const QByteArray address = startServer("dbus-daemon", {"--config-file=" + file, "--nofork", "--print-address=1"});
    return !address.isEmpty() && qputenv(variable, address);
}

bool SessionRig::startDisplay(const QString &geometry, const QStringList &options)
{
    const QByteArray display =
        startServer("Xvfb", QStringList{"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", geometry} + options);
    return !display.isEmpty() && qputenv("DISPLAY", ":" + display);
}

bool SessionRig::startCompositor(const QString &program, const QStringList &arguments, const QString &log,
                                 const QString &socket)
{
    start(program, arguments, log);
    const QString path = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/" + socket;
    const QDeadlineTimer deadline(10000);
    while (!QFile::exists(path) && !deadline.hasExpired())
        QThread::msleep(20);
    if (!QFile::exists(path)) {
        m_error = program + " did not start: " + QString::fromLocal8Bit(testfiles::readFile(log));
        return false;
    }
    return qputenv("WAYLAND_DISPLAY", socket.toLocal8Bit());
}

void SessionRig::stop()
{
    for (; !m_processes.empty(); m_processes.pop_back()) {
        QProcess &process = *m_processes.back();
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished();
        }
    }
}
