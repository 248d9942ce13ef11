#include "app/zgui.h"
#include "e2etest.h"
#include "ezx/zlistbox.h"
#include "guitest.h"

#include <QDir>
#include <QFileInfo>
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
// The window goes on once a daemon answers; the unit's start or stop ends a little later
// (ExecStartPost, ExecStopPost): seconds later under the sanitizers on a loaded machine.
constexpr int kSettle = 60000;

// The user's systemd manager as a session runs it, here without systemd as PID 1: in this
// test's PID and mount namespace, over a /run/systemd that says the machine booted with
// systemd, in a cgroup of its own (which it removes as it exits). A reboot stops it, and all
// it started, and starts a fresh one on the same home.
class UserManager
{
public:
    // Empty when it can run here; else why it cannot.
    QString prepare(const QString &runtimeDir)
    {
        m_runtimeDir = runtimeDir;
        const QString hierarchy = QDir("/sys/fs/cgroup/systemd").exists() ? "/sys/fs/cgroup/systemd" : "/sys/fs/cgroup";
        // Named by the runtime directory: in a PID namespace every test's pid is the same.
        m_cgroup = hierarchy + "/callvane-session-" + QFileInfo(runtimeDir).dir().dirName();
        if ((::mkdir("/run/systemd", 0755) != 0 && errno != EEXIST)
            || ::mount("tmpfs", "/run/systemd", "tmpfs", 0, "mode=755") != 0
            || ::mkdir("/run/systemd/system", 0755) != 0)
            return "cannot lay a tmpfs over /run/systemd: " + QString::fromLocal8Bit(std::strerror(errno));
        if (!QDir().mkpath(m_cgroup) || ::access(QFile::encodeName(m_cgroup + "/cgroup.procs").constData(), W_OK) != 0)
            return "cannot make a cgroup of its own in " + hierarchy + " (none delegated)";
        return {};
    }

    bool boot()
    {
        QDir().mkpath(m_cgroup);
        const QByteArray procs = QFile::encodeName(m_cgroup + "/cgroup.procs");
        m_process.setChildProcessModifier([procs] {
            const int fd = ::open(procs.constData(), O_WRONLY);
            if (fd < 0 || ::write(fd, "0", 1) != 1)
                ::_exit(127);
            ::close(fd);
        });
        m_process.start("/usr/lib/systemd/systemd", {"--user"});
        // Until the session's start has ended (its units are up); no answer before it listens.
        QString state;
        const auto answered = [&] { return !(state = systemctl({"is-system-running", "--wait"})).isEmpty(); };
        return m_process.waitForStarted() && QTest::qWaitFor(answered, 10000) && state == "running";
    }

    // As at a reboot or a logout: the manager stops its units, removes its cgroup and exits.
    void shutDown()
    {
        m_process.terminate();
        m_process.waitForFinished(30000);
        QDir().rmdir(m_cgroup); // where it could not
    }

    QString systemctl(const QStringList &arguments) const
    {
        QProcess systemctl;
        systemctl.start("systemctl", QStringList{"--user"} + arguments);
        systemctl.waitForFinished(30000);
        return QString::fromLocal8Bit(systemctl.readAllStandardOutput()).trimmed();
    }

    // Whether the unit runs, with the one daemon as its main process, and is enabled, as the
    // files have it (the manager's own view waits for a reload).
    QString unitState() const
    {
        const QStringList state = systemctl({"show", kUnit, "-p", "ActiveState", "-p", "MainPID"}).split('\n');
        const bool running = state.contains("ActiveState=active");
        if (running ? !state.contains(QStringLiteral("MainPID=%1").arg(soleDaemon())) : !daemonPids().empty())
            return state.join(", ") + QStringLiteral(" while %1 daemons run").arg(daemonPids().size());
        return (running ? "on/" : "off/") + systemctl({"is-enabled", kUnit});
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
// Callvane installed into a prefix of its own (the build's is another). Outside systemd's
// search path the unit is linked into the user's units: "linked" is its state when disabled.
class TestSession : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    UserManager m_manager;

    static std::unique_ptr<ZGui> window() { return std::make_unique<ZGui>(QString(), nullptr, nullptr, 0, nullptr); }

    void reboot()
    {
        m_manager.shutDown();
        QVERIFY(m_manager.boot());
    }

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
        QCOMPARE(QProcess::execute("cmake", {"--install", CALLVANE_BINARY_DIR, "--prefix", prefix}), 0);

        // This process is the owner's session, and its window runs as the launcher starts it.
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        for (const char *name : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "DBUS_SESSION_BUS_ADDRESS",
                                 firewall::Storage::kDirVariable})
            qunsetenv(name);
        QProcess launcher;
        launcher.start(prefix + "/bin/callvane", {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home + "/.local/state/callvane/.Callvane.cfg"), 10000);
        QFile environ(QString("/proc/%1/environ").arg(launcher.processId()));
        QVERIFY(environ.open(QIODevice::ReadOnly));
        for (const QByteArray &setting : environ.readAll().split('\0')) {
            if (setting.startsWith("CALLVANE_"))
                qputenv(setting.left(setting.indexOf('=')), setting.mid(setting.indexOf('=') + 1));
        }
        launcher.terminate();
        QVERIFY(launcher.waitForFinished(5000));
        QCOMPARE(qgetenv("CALLVANE_UNIT"), QFile::encodeName(prefix + "/lib/systemd/user/" + kUnit + ".service"));
        setInvocationPath(QFile::encodeName(home + "/.local/share/callvane/callvane"));
        // The manager's environment is its units': their national numbers are Spain's.
        qputenv("CALLVANE_REGION", "ES");
        QVERIFY(m_manager.boot());
    }

    void cleanupTestCase() { m_manager.shutDown(); }

    // Off from a fresh install; then as the owner leaves it, through reboots, whether the window
    // or systemctl switched it.
    void asTheOwnerLeftIt()
    {
        QCOMPARE(soleDaemon(), 0);
        auto gui = window();
        switchFirewall(*gui, true);
        QCOMPARE(gui->daemonState(), QString("ON"));
        QTRY_COMPARE_WITH_TIMEOUT(m_manager.unitState(), QString("on/enabled"), kSettle);
        reboot();
        QCOMPARE(m_manager.unitState(), QString("on/enabled"));

        // An edit restarts the daemon within the unit; the unit's stop is a switch-off.
        gui = window();
        showTab(*gui, 1);
        typeInNextDialog("600112233");
        runMenuItem(*gui, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_manager.unitState(), QString("on/enabled"), kSettle);
        QCOMPARE(ring("+34 600 11 22 33"), QString("block"));
        m_manager.systemctl({"stop", kUnit});
        QCOMPARE(m_manager.unitState(), QString("off/linked"));
        reboot();
        QCOMPARE(m_manager.unitState(), QString("off/linked"));
        QCOMPARE(window()->daemonState(), QString("OFF"));

        // Switched on by the unit, off in the window.
        m_manager.systemctl({"start", kUnit});
        gui = window();
        QCOMPARE(gui->daemonState(), QString("ON"));
        switchFirewall(*gui, false);
        QCOMPARE(gui->daemonState(), QString("OFF"));
        QTRY_COMPARE_WITH_TIMEOUT(m_manager.unitState(), QString("off/linked"), kSettle);
        reboot();
        QCOMPARE(m_manager.unitState(), QString("off/linked"));
        QVERIFY(allDialogsAnswered());
    }
};

int main(int argc, char **argv)
{
    e2etest::runUnderInit();
    TestSession test;
    return guitest::run(&test, argc, argv);
}

#include "tst_session.moc"
