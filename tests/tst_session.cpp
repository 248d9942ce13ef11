#include "app/zgui.h"
#include "e2etest.h"
#include "ezx/zlistbox.h"
#include "guitest.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace guitest;
using namespace e2etest;

namespace {

constexpr char kUnit[] = "callvane-blacklist";

// The user's systemd manager as a session runs it, here without systemd as PID 1: in this
// test's PID and mount namespace, over a /run/systemd that says the machine booted with
// systemd, in a cgroup of its own. A reboot stops it, and everything it started, and starts a
// fresh one on the same home.
class UserManager
{
public:
    // Empty when it can run here; else why it cannot.
    QString prepare(const QString &runtimeDir)
    {
        m_runtimeDir = runtimeDir;
        if (::mkdir("/run/systemd", 0755) != 0 && errno != EEXIST)
            return "cannot make /run/systemd: " + QString::fromLocal8Bit(std::strerror(errno));
        if (::mount("tmpfs", "/run/systemd", "tmpfs", 0, "mode=755") != 0 || ::mkdir("/run/systemd/system", 0755) != 0)
            return "cannot lay a tmpfs over /run/systemd: " + QString::fromLocal8Bit(std::strerror(errno));
        const QString hierarchy = QDir("/sys/fs/cgroup/systemd").exists() ? "/sys/fs/cgroup/systemd" : "/sys/fs/cgroup";
        m_cgroup = QStringLiteral("%1/callvane-session-%2").arg(hierarchy).arg(::getppid());
        if (!QDir().mkpath(m_cgroup))
            return "cannot make a cgroup in " + hierarchy + " (a user needs one delegated)";
        return {};
    }

    ~UserManager()
    {
        shutDown();
        // What a manager that failed left of its cgroups, deepest first.
        QStringList groups;
        for (QDirIterator it(m_cgroup, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories); it.hasNext();)
            groups.prepend(it.next());
        for (const QString &group : groups + QStringList{m_cgroup})
            ::rmdir(QFile::encodeName(group).constData());
    }

    bool boot()
    {
        QDir().mkpath(m_cgroup);
        m_process.setProgram("/usr/lib/systemd/systemd");
        m_process.setArguments({"--user"});
        m_process.setStandardOutputFile(m_runtimeDir + "/../manager.log", QIODevice::Append);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        const QByteArray procs = QFile::encodeName(m_cgroup + "/cgroup.procs");
        m_process.setChildProcessModifier([procs] {
            const int fd = ::open(procs.constData(), O_WRONLY);
            if (fd < 0 || ::write(fd, "0", 1) != 1)
                ::_exit(127);
            ::close(fd);
        });
        m_process.start();
        // Until the session's start has ended (its units are up): no answer before it listens.
        QString state;
        const auto started = [&] { return !(state = systemctl({"is-system-running", "--wait"})).isEmpty(); };
        if (m_process.waitForStarted() && QTest::qWaitFor(started, 10000) && state == "running")
            return true;
        QFile log(m_runtimeDir + "/../manager.log");
        qWarning("the user manager did not start (%s, %s): %s", qPrintable(m_process.errorString()),
                 qPrintable(systemctl({"is-system-running"})),
                 log.open(QIODevice::ReadOnly) ? log.readAll().constData() : "");
        return false;
    }

    void shutDown()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        m_process.waitForFinished(30000);
    }

    void reboot()
    {
        shutDown();
        QVERIFY(boot());
    }

    QString systemctl(const QStringList &arguments) const
    {
        QProcess systemctl;
        systemctl.start("systemctl", QStringList{"--user"} + arguments);
        systemctl.waitForFinished(30000);
        return QString::fromLocal8Bit(systemctl.readAllStandardOutput()).trimmed();
    }

    // What the manager says of the unit, and whether its main process is the one daemon.
    QString unitState() const
    {
        QMap<QString, QString> state;
        for (const QString &line : systemctl({"show", kUnit, "-p", "ActiveState,MainPID"}).split('\n'))
            state.insert(line.section('=', 0, 0), line.section('=', 1));
        if (state["ActiveState"] == "active" && state["MainPID"].toInt() != soleDaemon())
            return "active, but not with the one daemon";
        // As the files have it (the manager's own view waits for a reload).
        const QString enabled = systemctl({"is-enabled", kUnit});
        return state["ActiveState"] + "/" + (enabled.isEmpty() ? "not found" : enabled);
    }

private:
    QString m_runtimeDir;
    QString m_cgroup;
    QProcess m_process;
};

void switchFirewall(ZGui &gui, bool on)
{
    chooseInNextDialog(on ? 0 : 1);
    ZListBox *status = box(gui, "statusBox");
    status->setCurrentRow(0);
    QTest::keyClick(status, Qt::Key_Return);
}

} // namespace

// The firewall over the life of the owner's session, under the real systemd user manager, with
// Callvane installed into a prefix of its own (the build's is another).
// Installed outside systemd's search path, the unit is linked into the user's units: "linked" is
// what systemctl says of it disabled.
class TestSession : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_unitFile;
    UserManager m_manager;

    std::unique_ptr<ZGui> window() const { return std::make_unique<ZGui>(QString(), nullptr, nullptr, 0, nullptr); }

private slots:
    void initTestCase()
    {
        if (!inPrivatePidNamespace())
            QSKIP("runs only as PID 1 of a private PID namespace (unshare --pid --fork --mount-proc)");
        const QString prefix = m_dir.filePath("usr");
        const QString home = m_dir.filePath("home");
        const QString runtime = m_dir.filePath("runtime");
        QVERIFY(QDir().mkpath(home) && QDir().mkdir(runtime) && ::chmod(QFile::encodeName(runtime), 0700) == 0);
        const QString unavailable = m_manager.prepare(runtime);
        if (!unavailable.isEmpty())
            QSKIP(qPrintable("no user manager can run here: " + unavailable));
        QProcess install;
        install.start("cmake", {"--install", CALLVANE_BINARY_DIR, "--prefix", prefix});
        QVERIFY(install.waitForFinished(60000));
        QCOMPARE(install.exitCode(), 0);
        m_unitFile = prefix + "/lib/systemd/user/" + kUnit + ".service";

        // This process is the owner's session: the window runs as the launcher starts it.
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        for (const char *name : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "DBUS_SESSION_BUS_ADDRESS"})
            qunsetenv(name);
        qunsetenv(control::Storage::kDirVariable);
        QProcess launcher;
        launcher.start(prefix + "/bin/callvane", {});
        const QString storage = home + "/.local/state/callvane/";
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(storage + ".Callvane.cfg"), 10000);
        QFile environ(QString("/proc/%1/environ").arg(launcher.processId()));
        QVERIFY(environ.open(QIODevice::ReadOnly));
        for (const QByteArray &setting : environ.readAll().split('\0')) {
            if (setting.startsWith("CALLVANE_"))
                qputenv(setting.left(setting.indexOf('=')), setting.mid(setting.indexOf('=') + 1));
        }
        launcher.terminate();
        QVERIFY(launcher.waitForFinished(5000));
        QCOMPARE(qgetenv("CALLVANE_UNIT"), QFile::encodeName(m_unitFile));
        setInvocationPath(QFile::encodeName(home + "/.local/share/callvane/callvane"));
        // The manager's environment is its units': their national numbers are Spain's.
        qputenv("CALLVANE_REGION", "ES");
        QVERIFY(m_manager.boot());
    }

    void cleanup() { QVERIFY(allDialogsAnswered()); }

    void cleanupTestCase() { m_manager.shutDown(); }

    // Off from a fresh install; on after a switch-on in the window, and after every reboot.
    void switchedOnInTheWindowStaysOn()
    {
        QCOMPARE(soleDaemon(), 0);
        auto gui = window();
        QCOMPARE(gui->daemonState(), QString("OFF"));
        switchFirewall(*gui, true);
        QCOMPARE(gui->daemonState(), QString("ON"));
        QCOMPARE(m_manager.unitState(), QString("active/enabled"));
        gui.reset();
        for (int reboot = 0; reboot < 2; ++reboot) {
            m_manager.reboot();
            QCOMPARE(m_manager.unitState(), QString("active/enabled"));
            QCOMPARE(ring("+34 600 11 22 33"), QString("allow"));
        }
        QCOMPARE(window()->daemonState(), QString("ON"));
    }

    // The unit enabled by hand, then the window's switch-off: off, and off after a reboot.
    void switchedOffInTheWindowStaysOff()
    {
        m_manager.systemctl({"enable", "--now", m_unitFile});
        QCOMPARE(m_manager.unitState(), QString("active/enabled"));
        auto gui = window();
        QCOMPARE(gui->daemonState(), QString("ON"));
        switchFirewall(*gui, false);
        QCOMPARE(gui->daemonState(), QString("OFF"));
        QTRY_COMPARE(m_manager.unitState(), QString("inactive/linked"));
        gui.reset();
        m_manager.reboot();
        QCOMPARE(m_manager.unitState(), QString("inactive/linked"));
        QCOMPARE(soleDaemon(), 0);
    }

    // An edit restarts the unit's daemon within the unit: systemctl still sees it, and its stop
    // stops the firewall.
    void anEditKeepsTheDaemonInTheUnit()
    {
        m_manager.systemctl({"start", kUnit});
        const pid_t before = soleDaemon();
        QVERIFY(before != 0);
        auto gui = window();
        showTab(*gui, 1);
        typeInNextDialog("600112233");
        runMenuItem(*gui, 0);
        QCOMPARE(gui->daemonState(), QString("ON"));
        QCOMPARE(m_manager.unitState(), QString("active/enabled"));
        QVERIFY(soleDaemon() != before);
        QCOMPARE(ring("+34 600 11 22 33"), QString("block"));
        m_manager.systemctl({"stop", kUnit});
        QCOMPARE(m_manager.unitState(), QString("inactive/linked"));
        QCOMPARE(ring("+34 600 11 22 33"), QString());
        QCOMPARE(window()->daemonState(), QString("OFF"));
    }
};

int main(int argc, char **argv)
{
    e2etest::runUnderInit();
    TestSession test;
    return guitest::run(&test, argc, argv);
}

#include "tst_session.moc"
