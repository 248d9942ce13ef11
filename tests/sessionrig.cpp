#include "sessionrig.h"

#include "tests/testfiles.h"

#include <csignal>
#include <sys/prctl.h>

SessionRig::SessionRig(QString dir)
    : m_dir(std::move(dir))
{
}

SessionRig::~SessionRig()
{
    for (auto process = m_processes.rbegin(); process != m_processes.rend(); ++process) {
        (*process)->terminate();
        if (!(*process)->waitForFinished(5000)) {
            (*process)->kill();
            (*process)->waitForFinished();
        }
    }
}

QProcess &SessionRig::start(const QString &program, const QStringList &arguments, const QString &log)
{
    auto &process = *m_processes.emplace_back(std::make_unique<QProcess>());
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    if (!log.isEmpty()) {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(log);
    }
    process.start(program, arguments);
    return process;
}

QByteArray SessionRig::firstLine(QProcess &process, const QString &what, int ms)
{
    if (process.waitForReadyRead(ms))
        return process.readLine().trimmed();
    m_error = what + " did not start: " + process.errorString() + " " + process.readAllStandardError();
    return {};
}

QByteArray SessionRig::startBus(const QString &name, const QString &config)
{
    const QString socket = m_dir + "/" + name;
    QString file = config;
    if (file.isEmpty()) {
        file = socket + ".conf";
        testfiles::writeFile(file, testfiles::privateBusConfig(socket));
    }
    return firstLine(start("dbus-daemon",
                           {"--config-file=" + file, "--nofork", "--print-address=1", "--address=unix:path=" + socket},
                           {}),
                     "dbus-daemon", 5000);
}

bool SessionRig::startDisplay(const QByteArray &screen, const QStringList &arguments)
{
    const QByteArray display = firstLine(
        start("Xvfb", QStringList{"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", screen} + arguments, {}),
        "Xvfb", 10000);
    if (!display.isEmpty())
        qputenv("DISPLAY", ":" + display);
    return !display.isEmpty();
}
