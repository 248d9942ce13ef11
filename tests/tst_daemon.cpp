#include "control/commands.h"
#include "control/shell.h"
#include "e2etest.h"
#include "firewall/blockedcalllog.h"
#include "firewall/daemonsocket.h"
#include "firewall/storage.h"
#include "tests/sessionrig.h"
#include "tests/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace e2etest;
using testfiles::readFile;
using testfiles::saidOnStderr;
using testfiles::writeFile;

namespace {

QString storage()
{
    return QString::fromStdString(firewall::Storage::fromEnvironment().dir());
}

// Root, or a user namespace's root, without the power to read what it may not: as the owner.
constexpr char kAsOwner[] = "setpriv --bounding-set -dac_override,-dac_read_search ";

// Runs the daemon in the foreground, as from a terminal (`prefix` before it): its exit status.
int runDaemon(const QString &errorFile, const QByteArray &prefix = {})
{
    const QByteArray command =
        prefix + QFile::encodeName(storage() + ".blacklist") + " 2>" + QFile::encodeName(errorFile);
    const int status = std::system(command.constData());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts the deployed daemon in the foreground, as a script would: it returns once the
// daemon has detached and listens, so that a stop right after cannot meet the starter.
bool startDaemon(const QString &errorFile = "/dev/null", const QByteArray &prefix = {})
{
    return runDaemon(errorFile, prefix) == 0 && daemonListens();
}

// An exclusive lock on `path`, held by this process until the descriptor is closed.
int holdLock(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
        qFatal("cannot lock %s", qPrintable(path));
    return fd;
}

std::vector<firewall::calllog::Entry> logged()
{
    return firewall::calllog::read(firewall::Storage::fromEnvironment().blockedCalls());
}

} // namespace

class TestDaemon : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // The window's commands, for a program directory of its own that blocks withheld callers.
    control::Commands windowCommands() const
    {
        const QString program = m_dir.filePath("prog/");
        QDir().mkpath(program);
        QFile::remove(program + "blacklist");
        QFile::copy(CALLVANE_PROGRAM_DIR "/blacklist", program + "blacklist");
        writeFile(program + "Callvane.cfg", "[Callvane]\nBlockUnknown = Yes\n");
        return {QFile::encodeName(program).toStdString(), firewall::Storage::fromEnvironment().dir()};
    }

private slots:
    void initTestCase()
    {
        if (!inPrivatePidNamespace())
            QSKIP("runs only as PID 1 of a private PID namespace (unshare --pid --fork --mount-proc)");
        qputenv(firewall::Storage::kDirVariable, QFile::encodeName(m_dir.path() + "/"));
        qputenv("CALLVANE_REGION", "ES");
        // No session bus: the owner's own address books are no test's.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.filePath("no-bus")));
    }

    void init()
    {
        QDir dir(storage());
        for (const QFileInfo &entry :
             dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            entry.isDir() && !entry.isSymLink() ? QDir(entry.filePath()).removeRecursively()
                                                : QFile::remove(entry.filePath());
        QVERIFY(QFile::copy(CALLVANE_PROGRAM_DIR "/blacklist", storage() + ".blacklist"));
        writeFile(storage() + ".Callvane.cfg",
                  "[Callvane]\nFirewall = Blacklist\nBlockUnknown = Yes\n[Blacklist]\nNum = +34 600 11 22 33;112\n");
    }

    void cleanup() { stopDaemons(); }

    void screensAndLogsCalls()
    {
        QVERIFY(startDaemon());
        QCOMPARE(ring("600112233"), QString("block"));
        QCOMPARE(ring("+34 600-11-22-33"), QString("block"));
        QCOMPARE(ring("600999999"), QString("allow"));
        QCOMPARE(ring("112"), QString("block"));
        QCOMPARE(ring(), QString("block"));
        QCOMPARE(ring("unknown"), QString("block"));
        const auto calls = logged();
        QCOMPARE(calls.size(), size_t(5));
        QCOMPARE(calls[0].number, std::string("600112233"));
        QCOMPARE(calls[1].number, std::string("+34 600-11-22-33"));
        QCOMPARE(calls[3].number, std::string("unknown"));
        QCOMPARE(calls[4].number, std::string("unknown"));
        const QRegularExpression timestamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$");
        for (const auto &call : calls)
            QVERIFY2(timestamp.match(QString::fromStdString(call.detail)).hasMatch(), call.detail.c_str());
    }

    void runsDetachedUnderItsDeployedName()
    {
        QVERIFY(startDaemon());
        QTRY_COMPARE(daemonPids().size(), size_t(1));
        const pid_t pid = daemonPids().front();
        QCOMPARE(commandLine(pid), storage() + ".blacklist");
        QCOMPARE(::getsid(pid), pid);
        QCOMPARE(QFile::symLinkTarget(QString("/proc/%1/fd/1").arg(pid)), QString("/dev/null"));
    }

    // Told of a user unit where no user manager runs (a phone without systemd), it serves by
    // itself.
    void servesWithoutTheUnitsManager_data()
    {
        QTest::addColumn<bool>("sessionBus");
        QTest::newRow("no session bus") << false;
        QTest::newRow("a session bus without systemd") << true;
    }

    void servesWithoutTheUnitsManager()
    {
        QFETCH(bool, sessionBus);
        const QTemporaryDir runtime;
        const QByteArray empty = QFile::encodeName(runtime.path());
        const QProcessEnvironment saved = QProcessEnvironment::systemEnvironment();
        const auto restore = qScopeGuard([&saved] {
            for (const char *name : {"CALLVANE_UNIT", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"}) {
                if (saved.contains(name))
                    qputenv(name, saved.value(name).toLocal8Bit());
                else
                    qunsetenv(name);
            }
        });
        qputenv("CALLVANE_UNIT", "/usr/lib/systemd/user/callvane-blacklist.service");
        qputenv("XDG_RUNTIME_DIR", empty);
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + empty + "/bus");
        SessionRig session;
        QVERIFY(!sessionBus || session.startBus());
        QVERIFY(startDaemon(runtime.filePath("errors")));
        QCOMPARE(ring("600112233"), QString("block"));
        // Nothing to say where no user manager runs: the daemon serves as it always did.
        QVERIFY2(!readFile(runtime.filePath("errors")).contains("user manager"), readFile(runtime.filePath("errors")));
    }

    // The newest start serves, also when the one before it was stopped (SIGSTOP) and is
    // let go on later: exactly one daemon runs, on the settings of the newest start. A newer
    // start that gave up (no settings copy to read) leaves a running daemon serving, but one
    // stopped meanwhile gives way when it goes on: its settings are not the owner's.
    void newestStartTakesOver_data()
    {
        QTest::addColumn<bool>("firstStopped");
        QTest::addColumn<bool>("newerServes");
        QTest::newRow("running") << false << true;
        QTest::newRow("stopped") << true << true;
        QTest::newRow("running, the newer gave up") << false << false;
        QTest::newRow("stopped, the newer gave up") << true << false;
    }

    void newestStartTakesOver()
    {
        QFETCH(bool, firstStopped);
        QFETCH(bool, newerServes);
        QVERIFY(startDaemon());
        QTRY_COMPARE(daemonPids().size(), size_t(1));
        const pid_t first = daemonPids().front();
        if (firstStopped)
            QCOMPARE(::kill(first, SIGSTOP), 0);
        // A stopped daemon left behind by a failure would hold up every test after it.
        const auto resume = qScopeGuard([first] { ::kill(first, SIGCONT); });
        writeFile(storage() + ".Callvane.cfg", "[Callvane]\nFirewall = Whitelist\n[Whitelist]\nNum = 600112233\n");
        if (!newerServes)
            QVERIFY(QFile::rename(storage() + ".Callvane.cfg", storage() + "saved.cfg"));
        QCOMPARE(runDaemon("/dev/null") == 0 && daemonListens(), newerServes);
        QFile::rename(storage() + "saved.cfg", storage() + ".Callvane.cfg");
        if (firstStopped)
            ::kill(first, SIGCONT);
        if (!newerServes) {
            QTRY_COMPARE(daemonPids().empty(), firstStopped);
            QCOMPARE(ring("600112233"), QString(firstStopped ? "" : "block"));
            return;
        }
        QTRY_VERIFY(soleDaemon() != 0 && soleDaemon() != first);
        QCOMPARE(ring("600112233"), QString("allow"));
        QCOMPARE(ring("600999999"), QString("block"));
    }

    // Without settings it can read, or with its lock in hands it cannot reach, a daemon
    // says why and does not run: the status row then shows Off.
    void refusesToRunOnMadeUpRules_data()
    {
        QTest::addColumn<QString>("settings"); // "missing", "directory" or "readable"
        QTest::addColumn<bool>("lockHeld");
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("no settings copy") << "missing" << false << QByteArray("cannot read");
        QTest::newRow("settings copy is a directory") << "directory" << false << QByteArray("cannot read");
        QTest::newRow("lock held by a process not ours") << "readable" << true << QByteArray("not a daemon of ours");
    }

    void refusesToRunOnMadeUpRules()
    {
        QFETCH(QString, settings);
        QFETCH(bool, lockHeld);
        QFETCH(QByteArray, said);
        if (settings != "readable")
            QVERIFY(QFile::remove(storage() + ".Callvane.cfg"));
        if (settings == "directory")
            QVERIFY(QDir(storage()).mkdir(".Callvane.cfg"));
        const int holder = lockHeld ? holdLock(storage() + ".blacklist.lock") : -1;
        const auto release = qScopeGuard([holder] { ::close(holder); });
        const QString errors = m_dir.filePath("errors");
        QCOMPARE(runDaemon(errors), 1);
        QVERIFY2(readFile(errors).contains(said), readFile(errors).constData());
        QVERIFY(!daemonListens());
        QVERIFY(daemonPids().empty());
    }

    // A start that cannot serve leaves the daemon that serves; one whose lock file names
    // another storage's daemon stops nothing.
    void aStartStopsOnlyThisStoragesDaemonAndOnlyToServe()
    {
        QVERIFY(startDaemon());
        QTRY_COMPARE(daemonPids().size(), size_t(1));
        QVERIFY(QFile::rename(storage() + ".Callvane.cfg", storage() + "saved.cfg"));
        QCOMPARE(runDaemon("/dev/null"), 1);
        QCOMPARE(ring("600112233"), QString("block"));

        QVERIFY(QFile::rename(storage() + "saved.cfg", storage() + ".Callvane.cfg"));
        const QString other = m_dir.filePath("other/");
        QVERIFY(QDir().mkpath(other));
        QVERIFY(QFile::copy(storage() + ".blacklist", other + ".blacklist"));
        QVERIFY(QFile::copy(storage() + ".Callvane.cfg", other + ".Callvane.cfg"));
        const pid_t serving = daemonPids().front();
        // The other storage's lock, held by someone else, names this storage's daemon.
        const int holder = holdLock(other + ".blacklist.lock");
        const auto release = qScopeGuard([holder] { ::close(holder); });
        QFile lock(other + ".blacklist.lock");
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(QByteArray::number(serving) + "\n") > 0);
        lock.close();
        const QByteArray own = qgetenv(firewall::Storage::kDirVariable);
        qputenv(firewall::Storage::kDirVariable, QFile::encodeName(other));
        const int status = runDaemon("/dev/null");
        qputenv(firewall::Storage::kDirVariable, own);
        QCOMPARE(status, 1);
        QCOMPARE(daemonPids(), std::vector<pid_t>{serving});
    }

    // A stopped daemon answers no call: the probe does not take it for a running one.
    void stoppedDaemonProbesAsOff()
    {
        const QString program = m_dir.filePath("prog/");
        QVERIFY(QDir().mkpath(program));
        const control::Commands commands(QFile::encodeName(program).toStdString(),
                                         firewall::Storage::fromEnvironment().dir());
        QVERIFY(startDaemon());
        QTRY_COMPARE(daemonPids().size(), size_t(1));
        control::SystemShell shell;
        QCOMPARE(shell.probe(commands), std::optional<bool>(true));
        const pid_t daemon = daemonPids().front();
        QCOMPARE(::kill(daemon, SIGSTOP), 0);
        const auto resume = qScopeGuard([daemon] { ::kill(daemon, SIGCONT); });
        QTRY_COMPARE(shell.probe(commands), std::optional<bool>(false));
    }

    // A restart runs to its end whenever the window that started it is killed.
    // Of two starts under way the newer serves, also when the older one (stopped here, as a
    // loaded phone may hold it) reads its long settings after the newer has taken over.
    void theNewerOfTwoStartsServes()
    {
        QByteArray numbers = "600000000";
        for (int i = 1; i < 100000; ++i)
            numbers += ";" + QByteArray::number(600000000 + i);
        writeFile(storage() + ".Callvane.cfg",
                  "[Callvane]\nFirewall = Blacklist\n[Blacklist]\nNum = " + numbers + "\n");
        const QByteArray counted = readFile(storage() + ".blacklist.starts");
        QProcess older;
        older.start(storage() + ".blacklist", QStringList());
        // Stopped once it has taken its number, while it reads.
        QElapsedTimer waited;
        waited.start();
        while (readFile(storage() + ".blacklist.starts") == counted && waited.elapsed() < 10000)
            QThread::usleep(50);
        QCOMPARE(::kill(pid_t(older.processId()), SIGSTOP), 0);
        writeFile(storage() + ".Callvane.cfg", "[Callvane]\nFirewall = Blacklist\n[Blacklist]\nNum = 611111111\n");
        QVERIFY(startDaemon());
        ::kill(pid_t(older.processId()), SIGCONT);
        QVERIFY(older.waitForFinished(10000));
        QCOMPARE(older.exitCode(), 0);
        QCOMPARE(ring("611111111"), QString("block"));
        QCOMPARE(ring("600000001"), QString("allow"));
    }

    // The window's restart of a daemon in a frozen cgroup, which no signal ends: the new
    // settings serve, or the window shows the firewall off, never on while nothing serves them.
    void restartOfAFrozenDaemon()
    {
        const bool v1 = QDir("/sys/fs/cgroup/freezer").exists();
        // Named afresh: in a PID namespace every run's parent has the same pid, and a group
        // another run (or user) left behind is not ours to use.
        const QString group = (v1 ? "/sys/fs/cgroup/freezer/" : "/sys/fs/cgroup/")
            + QString("callvane-frozen-%1").arg(QRandomGenerator::global()->generate());
        if (!QDir().mkdir(group))
            QSKIP("no cgroup can be made here to freeze the daemon in");
        const auto write = [&group](const char *file, const QByteArray &text) {
            QFile control(group + "/" + file);
            return control.open(QIODevice::WriteOnly) && control.write(text) == text.size();
        };
        const auto remove = qScopeGuard([&] {
            write(v1 ? "freezer.state" : "cgroup.freeze", v1 ? "THAWED" : "0");
            stopDaemons();
            // A group is removed once the last of its processes is gone, not before.
            if (!QTest::qWaitFor([&group] { return QDir().rmdir(group); }, 5000))
                qWarning("the cgroup %s is left behind", qPrintable(group));
        });
        const control::Commands commands = windowCommands();
        control::SystemShell shell;
        const std::string socket = firewall::Storage::fromEnvironment().daemonSocket();
        QVERIFY(shell.runStart(commands, commands.switchOn()) && shell.awaitDaemon(socket, true));
        QVERIFY(write(v1 ? "tasks" : "cgroup.procs", QByteArray::number(soleDaemon())));
        QVERIFY(write(v1 ? "freezer.state" : "cgroup.freeze", v1 ? "FROZEN" : "1"));
        writeFile(QString::fromStdString(commands.settingsFile()),
                  "[Callvane]\nFirewall = Blacklist\n[Blacklist]\nNum = 611111111\n");
        shell.runStart(commands, commands.restart());
        shell.awaitDaemon(socket, true);
        const std::optional<bool> on = shell.probe(commands);
        QVERIFY(on.has_value());
        QVERIFY2(!*on || ring("611111111") == "block", "shown on while no daemon serves the new settings");
    }

    // A restart whose settings copy is cut short (a full disk) stops the firewall: no daemon
    // serves a cut or stale copy while the window shows it on. A settings file that is not
    // there leaves the deployed copy, which serves.
    void aCutSettingsCopyStopsTheRestart_data()
    {
        QTest::addColumn<bool>("cut");
        QTest::newRow("copy cut short: stopped") << true;
        QTest::newRow("no settings file: the deployed copy serves") << false;
    }

    void aCutSettingsCopyStopsTheRestart()
    {
        QFETCH(bool, cut);
        const control::Commands commands = windowCommands();
        const std::string socket = firewall::Storage::fromEnvironment().daemonSocket();
        control::SystemShell shell;
        QVERIFY(shell.runStart(commands, commands.switchOn()) && shell.awaitDaemon(socket, true));
        std::optional<FileSizeLimit> full;
        if (cut)
            full.emplace(8);
        else
            QVERIFY(QFile::remove(QString::fromStdString(commands.settingsFile())));
        QCOMPARE(shell.runStart(commands, commands.restart()), !cut);
        full.reset();
        QVERIFY(shell.awaitDaemon(socket, !cut));
        QCOMPARE(shell.probe(commands), std::optional<bool>(!cut));
    }

    // A switch-on whose daemon gives up says why on the window's stderr: here its lock is
    // held by a process that is no daemon of ours, which it waits 3 s for.
    void aStartThatGivesUpSaysWhy()
    {
        const control::Commands commands = windowCommands();
        const int lock = holdLock(storage() + ".blacklist.lock");
        const QByteArray said =
            saidOnStderr([&commands] { control::SystemShell().runStart(commands, commands.switchOn()); });
        ::close(lock);
        QVERIFY2(said.contains("is held by a process"), said.constData());
    }

    void restartOutlivesAKilledWindow()
    {
        const control::Commands commands = windowCommands();
        QVERIFY(startDaemon());
        for (int round = 0; round < 20; ++round) {
            const pid_t window = ::fork();
            if (window == 0) {
                control::SystemShell().runStart(commands, commands.restart());
                ::_exit(0);
            }
            ::usleep(useconds_t(QRandomGenerator::global()->bounded(40000)));
            ::kill(window, SIGKILL);
            ::waitpid(window, nullptr, 0);
            QTest::qWait(300); // the restart's end
            QTRY_VERIFY_WITH_TIMEOUT(daemonListens(), 3000);
        }
        QCOMPARE(ring("unknown"), QString("block"));
    }

    // A running daemon leaves its deployed file free: an upgrade's deploy succeeds, and the
    // next start runs it. busybox killall still finds the daemon by its name.
    void deployedFileStaysFreeForAnUpgrade()
    {
        QVERIFY(startDaemon());
        const QByteArray deploy =
            "cp " CALLVANE_PROGRAM_DIR "/blacklist " + QFile::encodeName(storage()) + ".blacklist";
        QCOMPARE(std::system(deploy.constData()), 0);
        QCOMPARE(ring("600112233"), QString("block"));
        QCOMPARE(std::system("busybox killall .blacklist"), 0);
        QTRY_VERIFY(daemonPids().empty());
        QVERIFY(startDaemon());
        QCOMPARE(ring("600112233"), QString("block"));
    }

    // A restart's stop and start come right after each other: the new daemon takes over.
    // The window's restart, also of a daemon that is stopped (SIGSTOP, a debugger, a frozen
    // cgroup): the new settings serve.
    void restartTakesOver_data()
    {
        QTest::addColumn<bool>("oldStopped");
        QTest::newRow("running") << false;
        QTest::newRow("stopped") << true;
    }

    void restartTakesOver()
    {
        QFETCH(bool, oldStopped);
        QVERIFY(startDaemon());
        QTRY_COMPARE(daemonPids().size(), size_t(1));
        const pid_t old = daemonPids().front();
        if (oldStopped)
            QCOMPARE(::kill(old, SIGSTOP), 0);
        const auto resume = qScopeGuard([old] { ::kill(old, SIGCONT); });
        writeFile(storage() + ".Callvane.cfg", "[Callvane]\nFirewall = Whitelist\n[Whitelist]\nNum = 600112233\n");
        QCOMPARE(std::system("busybox killall .blacklist"), 0);
        QVERIFY(startDaemon());
        QTRY_VERIFY(soleDaemon() != 0 && soleDaemon() != old);
        QTRY_COMPARE(ring("600112233"), QString("allow"));
        QCOMPARE(ring("600999999"), QString("block"));
    }

    // Nor do FIFOs in place of its files, which held its start, or its first answer, for ever.
    void staleSocketDoesNotStopAStart()
    {
        writeFile(storage() + ".blacklist.sock", "left over");
        for (const char *file : {".blacklist.starts", ".blacklist.keys"})
            QCOMPARE(::mkfifo(QFile::encodeName(storage() + file).constData(), 0600), 0);
        QVERIFY(startDaemon());
        QCOMPARE(ring("600112233"), QString("block"));
    }

    void terminatesCleanlyAndFreesItsLock()
    {
        QVERIFY(startDaemon());
        QTRY_COMPARE(daemonPids().size(), size_t(1));
        ::kill(daemonPids().front(), SIGTERM);
        QTRY_VERIFY(daemonPids().empty());
        QCOMPARE(ring("600112233"), QString());
        QVERIFY(startDaemon());
        QCOMPARE(ring("600112233"), QString("block"));
    }

    void badRequestsGetNoAnswer_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("too long") << QByteArray(4000, '6');
        QTest::newRow("too long with a line end") << QByteArray(200, '6') + "\n";
        QTest::newRow("binary") << QByteArray("600\x00\x01\x02\n", 7);
        QTest::newRow("escape sequence") << QByteArray("\x1b[2J600112233\n");
        QTest::newRow("never ended") << QByteArray("600112233");
    }

    void badRequestsGetNoAnswer()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(startDaemon());
        QCOMPARE(ring("600999999"), QString("allow")); // up and serving
        const Reply reply = request({bytes}, 3000);
        QVERIFY(reply.closed);
        QCOMPARE(reply.data, QByteArray());
        QCOMPARE(ring("600112233"), QString("block"));
        QCOMPARE(logged().size(), size_t(1));
    }

    void requestsInPiecesReadAsOneLine_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("number split") << QByteArrayList{"6001", "12233\n"} << QByteArray("block\n");
        QTest::newRow("carriage return and line end apart")
            << QByteArrayList{"600112233\r", "\n"} << QByteArray("block\n");
        QTest::newRow("byte by byte") << QByteArrayList{"1", "1", "2", "\r", "\n"} << QByteArray("block\n");
        QTest::newRow("allowed, split") << QByteArrayList{"600", "999999", "\n"} << QByteArray("allow\n");
    }

    void requestsInPiecesReadAsOneLine()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(QByteArray, answer);
        QVERIFY(startDaemon());
        QCOMPARE(request(pieces).data, answer);
    }

    // A script that runs the daemon in the foreground goes on once calls can be answered.
    void foregroundStartReturnsWhenReady()
    {
        const QByteArray command = "timeout 5 " + QFile::encodeName(storage() + ".blacklist");
        QCOMPARE(std::system(command.constData()), 0);
        QVERIFY(daemonListens());
        QCOMPARE(ring("600112233"), QString("block"));
        QTRY_COMPARE(daemonPids().size(), size_t(1));
    }

    // Started and stopped by the window's own commands, from storage directories of every
    // form the commands accept: the probe finds exactly the daemon, and its calls are logged
    // where the window reads them.
    void windowCommandsStartProbeAndStop_data()
    {
        // clang-format off
        QTest::addColumn<QString>("storageDir");
        QTest::addColumn<QByteArray>("locale");
        QTest::newRow("plain") << m_dir.filePath("st/") << QByteArray("C.UTF-8");
        QTest::newRow("blank in the path") << m_dir.filePath("sp ace/st/") << QByteArray("C.UTF-8");
        QTest::newRow("relative") << QDir::current().relativeFilePath(m_dir.filePath("rel/st")) + "/"
                                  << QByteArray("C.UTF-8");
        QTest::newRow("ö in the path, LANG=C") << m_dir.filePath("ö/st/") << QByteArray("C");
        QTest::newRow("newline in the path") << m_dir.filePath("new\nline/st/") << QByteArray("C.UTF-8");
        QTest::newRow("longer than a socket address") << m_dir.filePath(QString(150, 'l') + "/st/")
                                                      << QByteArray("C.UTF-8");
        // clang-format on
    }

    void windowCommandsStartProbeAndStop()
    {
        QFETCH(QString, storageDir);
        QFETCH(QByteArray, locale);
        const QByteArray saved = qgetenv(firewall::Storage::kDirVariable);
        const auto restore = qScopeGuard([&saved] {
            qputenv(firewall::Storage::kDirVariable, saved);
            qunsetenv("LC_ALL");
        });
        qputenv(firewall::Storage::kDirVariable, QFile::encodeName(storageDir));
        qputenv("LC_ALL", locale);
        firewall::Storage::fromEnvironment(); // as the window's main() does
        QVERIFY(QDir().mkpath(storage()));
        const QString program = m_dir.filePath("prog/");
        QVERIFY(QDir().mkpath(program));
        QFile::remove(program + "blacklist");
        QVERIFY(QFile::copy(CALLVANE_PROGRAM_DIR "/blacklist", program + "blacklist"));
        writeFile(program + "Callvane.cfg", "[Callvane]\nBlockUnknown = Yes\n");
        // Listed before the daemon, and no daemon: a file argument that ends in "blacklist".
        writeFile(storage() + "sender_blacklist", "");
        QProcess decoy;
        decoy.start("tail", {"-f", storage() + "sender_blacklist"});
        QVERIFY(decoy.waitForStarted());
        // Another user's process under this user's deployed name, where there is another user
        // (not in a user namespace of one).
        QProcess otherUser;
        otherUser.start("setpriv",
                        {"--reuid=65534", "--regid=65534", "--clear-groups", "bash", "-c", "exec -a \"$0\" sleep 600",
                         storage() + ".blacklist"});
        QTRY_VERIFY(otherUser.state() == QProcess::NotRunning
                    || commandLine(static_cast<pid_t>(otherUser.processId())).startsWith(storage()));
        if (otherUser.state() == QProcess::NotRunning)
            qInfo("no other user to run a process as: that decoy is left out");
        const auto stopDecoy = qScopeGuard([&decoy, &otherUser] {
            for (QProcess *process : {&decoy, &otherUser}) {
                process->kill();
                process->waitForFinished();
            }
        });

        const control::Commands commands(QFile::encodeName(program).toStdString(),
                                         firewall::Storage::fromEnvironment().dir());
        control::SystemShell shell;
        QByteArray said; // a healthy set-up says nothing on the terminal
        const auto run = [&shell, &said](const auto &command) { said += saidOnStderr([&] { shell.run(command); }); };
        run(commands.startup());
        run(commands.switchOn());
        QVERIFY(shell.awaitDaemon(firewall::Storage::fromEnvironment().daemonSocket(), true));
        run(commands.probe());
        QFile probe(QFile::decodeName(commands.probeFile().c_str()));
        QVERIFY(probe.open(QIODevice::ReadOnly));
        QCOMPARE(probe.readAll(), QByteArray::fromStdString(commands.daemonMark() + "\n"));
        run(commands.removeProbeFile());

        QCOMPARE(ring(), QString("block"));
        QCOMPARE(logged().size(), size_t(1));
        run(commands.switchOff());
        shell.awaitDaemon(firewall::Storage::fromEnvironment().daemonSocket(), false);
        QVERIFY(!daemonListens());
        QTRY_VERIFY(daemonPids().empty());
        run(commands.switchOff()); // none left to stop
        QCOMPARE(said, QByteArray());
    }

    void slowAndVanishingClientsDoNotStopOthers()
    {
        QVERIFY(startDaemon());
        QCOMPARE(ring("600999999"), QString("allow"));
        // A client that says nothing, one that hangs up mid-line; others are served meanwhile.
        const std::string path = firewall::Storage::fromEnvironment().daemonSocket();
        const int silent = firewall::daemonsocket::connectTo(path);
        QVERIFY(silent >= 0);
        const int vanishing = firewall::daemonsocket::connectTo(path);
        QVERIFY(vanishing >= 0);
        QCOMPARE(::send(vanishing, "600", 3, MSG_NOSIGNAL), ssize_t(3));
        ::close(vanishing);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(ring("600112233"), QString("block"));
        QVERIFY(!kWallClockBounds || timer.elapsed() < 900); // sooner than a silent client's timeout
        ::close(silent);
        QCOMPARE(logged().size(), size_t(1));
    }

    // With a daemon running: an option is answered and nothing else happens.
    void optionsHaveNoSideEffects_data()
    {
        // clang-format off
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("firstLine"); // of stdout; an error says nothing there
        for (const char *program : {"blacklist", "callvane-ring"}) {
            QTest::addRow("%s --help", program) << program << "--help" << 0 << QString("Usage: %1 ").arg(program);
            QTest::addRow("%s --version", program) << program << "--version" << 0 << QString("%1 ").arg(program);
        }
        QTest::newRow("callvane-ring, unknown option") << "callvane-ring" << "-x" << 2 << QString();
        QTest::newRow("callvane-ring, unknown long option") << "callvane-ring" << "--number=1" << 2 << QString();
        // clang-format on
    }

    void optionsHaveNoSideEffects()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        QFETCH(int, status);
        QFETCH(QString, firstLine);
        QVERIFY(startDaemon());
        QCOMPARE(ring("600999999"), QString("allow"));
        // Its key cache is written after the first answers; then its files are all there.
        QTRY_VERIFY(QFileInfo(QString::fromStdString(firewall::Storage::fromEnvironment().keyCache())).size() > 0);
        const pid_t daemon = soleDaemon();
        const QStringList before = QDir(storage()).entryList(QDir::AllEntries | QDir::Hidden);
        QProcess run;
        run.start(CALLVANE_PROGRAM_DIR "/" + program, {option});
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitCode(), status);
        const QString out = QString::fromLocal8Bit(run.readAllStandardOutput());
        QVERIFY2(status == 0 ? out.startsWith(firstLine) : out.isEmpty(), qPrintable(out));
        QCOMPARE(run.readAllStandardError().isEmpty(), status == 0);
        QCOMPARE(QDir(storage()).entryList(QDir::AllEntries | QDir::Hidden), before);
        QVERIFY(logged().empty());
        QCOMPARE(soleDaemon(), daemon);
    }

    // Another local user could open a lock and hold it, or connect to the socket.
    void filesAreTheOwnersAlone_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : {".blacklist.lock", ".blockedcalls.lock", ".blacklist.sock", ".blockedcalls"})
            QTest::newRow(name) << QString(name);
    }

    void filesAreTheOwnersAlone()
    {
        QFETCH(QString, name);
        // Lock files of an older version, open to everyone, are taken back.
        for (const char *lock : {".blacklist.lock", ".blockedcalls.lock"}) {
            writeFile(storage() + lock, {});
            QVERIFY(QFile::setPermissions(storage() + lock, QFileDevice::Permissions(0x6666)));
        }
        const mode_t umask = ::umask(0);
        const bool started = startDaemon();
        ::umask(umask);
        QVERIFY(started);
        QCOMPARE(ring("600112233"), QString("block"));
        struct stat st = {};
        QTRY_COMPARE(::stat(QFile::encodeName(storage() + name).constData(), &st), 0);
        QCOMPARE(st.st_mode & 077, mode_t(0));
    }

    // Someone holds the log's lock: calls are answered at once and logged when it is free.
    void heldLogLockDelaysOnlyTheEntry()
    {
        QVERIFY(startDaemon());
        const int holder = holdLock(storage() + ".blockedcalls.lock");
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(ring("600112233"), QString("block"));
        QCOMPARE(ring("112"), QString("block"));
        QVERIFY(!kWallClockBounds || timer.elapsed() < 900); // answered at once, logged later
        QVERIFY(logged().empty());
        ::close(holder);
        QTRY_COMPARE(logged().size(), size_t(2));
        QCOMPARE(logged()[1].number, std::string("112"));
    }

    void stopsWhileTheLogLockIsHeld()
    {
        QVERIFY(startDaemon());
        const int holder = holdLock(storage() + ".blockedcalls.lock");
        QCOMPARE(ring("600112233"), QString("block"));
        QTRY_VERIFY(soleDaemon() != 0);
        const pid_t old = soleDaemon();
        QCOMPARE(std::system("busybox killall .blacklist"), 0);
        QVERIFY(startDaemon());
        QTRY_VERIFY(soleDaemon() != 0 && soleDaemon() != old);
        ::close(holder);
        QCOMPARE(ring("112"), QString("block"));
        QTRY_COMPARE(logged().size(), size_t(1));
    }

    // 300 clients that connect and say nothing, or half a line, more than the daemon has
    // room for, and go on coming while a caller's line is on its way.
    void idleClientsGiveWayToCalls_data()
    {
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("silent") << QByteArray();
        QTest::newRow("half a line") << QByteArray("6001");
    }

    void idleClientsGiveWayToCalls()
    {
        QFETCH(QByteArray, said);
        QVERIFY(startDaemon());
        const std::string socket = firewall::Storage::fromEnvironment().daemonSocket();
        std::vector<int> idle;
        const auto flood = [&](int clients) {
            for (int i = 0; i < clients; ++i) {
                idle.push_back(firewall::daemonsocket::connectTo(socket));
                [[maybe_unused]] const ssize_t sent = ::send(idle.back(), said.constData(), size_t(said.size()), 0);
            }
        };
        const auto closeAll = qScopeGuard([&idle] {
            for (const int fd : idle)
                ::close(fd);
        });
        flood(300);
        const int caller = firewall::daemonsocket::connectTo(socket);
        QVERIFY(caller >= 0);
        QTest::qWait(50);
        flood(20);
        QTest::qWait(50);
        QVERIFY(::send(caller, "600112233\n", 10, MSG_NOSIGNAL) == 10);
        pollfd answer{caller, POLLIN, 0};
        char reply[16] = {};
        QVERIFY(::poll(&answer, 1, 3000) == 1 && ::read(caller, reply, sizeof reply - 1) > 0);
        ::close(caller);
        QCOMPARE(QByteArray(reply), QByteArray("block\n"));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(ring("600112233"), QString("block"));
        QVERIFY(!kWallClockBounds || timer.elapsed() < 900); // sooner than a silent client's timeout
    }

    void stopsWhenItsPackageIsRemoved_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("runs");
        QTest::newRow("upgraded: the new file renamed over it") << "upgrade" << true;
        QTest::newRow("removed and installed again at once") << "reinstall" << true;
        QTest::newRow("removed") << "remove" << false;
        QTest::newRow("its directory removed") << "rmdir" << false;
        QTest::newRow("removed before the start") << "before" << false;
        QTest::newRow("removed while its lists are indexed") << "indexing" << false;
    }

    void stopsWhenItsPackageIsRemoved()
    {
        QFETCH(QString, change);
        QFETCH(bool, runs);
        const QString dir = m_dir.path() + "/installed";
        const QString installed = dir + "/blacklist";
        QVERIFY(QDir().mkpath(dir));
        writeFile(installed, "old");
        qputenv("CALLVANE_INSTALLED", QFile::encodeName(installed));
        const auto unset = qScopeGuard([] { qunsetenv("CALLVANE_INSTALLED"); });
        if (change == "before") {
            QVERIFY(QFile::remove(installed));
            QCOMPARE(runDaemon("/dev/null"), 1);
            QVERIFY(daemonPids().empty());
            return;
        }
        if (change == "indexing") {
            QByteArray numbers = "+34 600 11 22 33";
            for (int i = 0; i < 200000; ++i)
                numbers += ";+34 7" + QByteArray::number(10000000 + i);
            writeFile(storage() + ".Callvane.cfg",
                      "[Callvane]\nFirewall = Blacklist\n[Blacklist]\nNum = " + numbers + "\n");
        }
        QVERIFY(startDaemon());
        if (change != "indexing")
            QCOMPARE(ring("600112233"), QString("block")); // the daemon is past its start
        if (change == "upgrade") {
            writeFile(installed + ".dpkg-new", "new");
            QVERIFY(::rename(QFile::encodeName(installed + ".dpkg-new"), QFile::encodeName(installed)) == 0);
        } else if (change == "rmdir")
            QVERIFY(QDir(dir).removeRecursively());
        else
            QVERIFY(QFile::remove(installed));
        if (change == "reinstall")
            writeFile(installed, "new");
        if (runs) {
            QTest::qWait(2500); // what it does is not to stop: past its second look, a second on
            QCOMPARE(ring("600112233"), QString("block"));
        } else
            QTRY_COMPARE_WITH_TIMEOUT(daemonPids().size(), size_t(0), 30000); // indexing, with sanitizers
    }

    // Each fault is said once on the daemon's stderr, however many calls meet it.
    // Without CALLVANE_REGION, under the C locale of many phone images, the time zone gives the
    // region; the daemon says which, once. Prefix entries block as they come.
    // A start with an empty list reads no key cache, however large, and leaves none.
    void anEmptyListLeavesNoKeyCache()
    {
        const QString keys = QString::fromStdString(firewall::Storage::fromEnvironment().keyCache());
        QVERIFY(startDaemon());
        QTRY_VERIFY(QFileInfo(keys).size() > 0);
        writeFile(storage() + ".Callvane.cfg", "[Callvane]\nFirewall = Blacklist\nBlockUnknown = Yes\n");
        QVERIFY(startDaemon());
        QCOMPARE(ring("600112233"), QString("allow"));
        QTRY_VERIFY(!QFile::exists(keys)); // beside the first answers
    }

    // In white-list mode the owner's contacts (KPeople's vCards, in any of their forms) are let
    // through as the white list's numbers are, in the written form they come in; nobody else is,
    // nor a contact removed, nor anyone where the owner said no or in black-list mode.
    void contactsComeThroughTheWhiteList_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("allowed");
        QTest::addColumn<QStringList>("blocked");
        // Rung until the book is read: a caller blocked meanwhile is no repeated caller.
        const QByteArray whitelist =
            "[Callvane]\nFirewall = Whitelist\nRepeatedCallers = 0\n[Whitelist]\nNum = 699000000\n";
        QTest::newRow("white list") << whitelist << QStringList{"600112233", "+34 611 22 33 44", "0034622334455"}
                                    << QStringList{"633445566", "+33 6 11 22 33 44", "*"};
        QTest::newRow("AllowContacts = No") << whitelist + "[Callvane]\nAllowContacts = No\n"
                                            << QStringList{"699000000"} << QStringList{"600112233", "611223344"};
        QTest::newRow("black list") << QByteArray("[Callvane]\nFirewall = Blacklist\n[Blacklist]\nNum = 600112233\n")
                                    << QStringList{"611223344"} << QStringList{"600112233"};
    }

    void contactsComeThroughTheWhiteList()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, allowed);
        QFETCH(QStringList, blocked);
        const QString book = m_dir.filePath("data/kpeoplevcard");
        QDir(book).removeRecursively();
        QVERIFY(QDir().mkpath(book + "/sub"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath("data")));
        const auto unset = qScopeGuard([] { qunsetenv("XDG_DATA_HOME"); });
        writeFile(book + "/a.vcf",
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nTEL;TYPE=CELL:+34 600 11 22 33\r\nEND:VCARD\r\n");
        writeFile(book + "/sub/b.vcf",
                  "BEGIN:VCARD\nVERSION:4.0\nFN:B\nitem1.tel;VALUE=uri:tel:+34-611-\n 22-33-44;ext=1\n"
                  "TEL:*\nEND:VCARD\nBEGIN:VCARD\nVERSION:2.1\nTEL;HOME:622 33 44 55\nEND:VCARD\n");
        writeFile(book + "/c.txt", "BEGIN:VCARD\nTEL:633445566\nEND:VCARD\n");
        writeFile(storage() + ".Callvane.cfg", settings);
        QVERIFY(startDaemon());
        for (const QString &number : allowed)
            QCOMPARE(ring(number.toUtf8()), QString("allow"));
        for (const QString &number : blocked)
            QCOMPARE(ring(number.toUtf8()), QString("block"));
        if (allowed.size() < 3)
            return;
        QVERIFY(QFile::remove(book + "/a.vcf")); // a contact removed
        QTRY_COMPARE(ring("600112233"), QString("block"));
        writeFile(book + "/d.vcf", "BEGIN:VCARD\nTEL:633445566\nEND:VCARD\n"); // and one added
        QTRY_COMPARE(ring("633445566"), QString("allow"));
    }

    // What a user's program may leave in the vCard folder is passed over and said once, and
    // holds no call up: a FIFO where the listing saw a file, a folder that cannot be read, a
    // link that leads nowhere, a file far larger than a contact (read up to its bound). The
    // contacts beside them count; the folder, made after the start, is read once it is there.
    void hostileContactFolders()
    {
        const QString data = m_dir.filePath("hostile");
        const QString book = data + "/kpeoplevcard";
        qputenv("XDG_DATA_HOME", QFile::encodeName(data));
        const auto clean = qScopeGuard([&] {
            qunsetenv("XDG_DATA_HOME");
            ::umount2(QFile::encodeName(book + "/fifo.vcf").constData(), MNT_DETACH);
            ::chmod(QFile::encodeName(book + "/locked").constData(), 0700);
            QDir(data).removeRecursively();
        });
        const auto card = [](const QByteArray &number) { return "BEGIN:VCARD\nTEL:" + number + "\nEND:VCARD\n"; };
        // Rung until the book is read: a caller blocked meanwhile is no repeated caller.
        writeFile(storage() + ".Callvane.cfg", "[Callvane]\nFirewall = Whitelist\nRepeatedCallers = 0\n");
        const QString errors = m_dir.filePath("errors");
        QFile::remove(errors);
        QVERIFY(startDaemon(errors, kAsOwner));

        QVERIFY(QDir().mkpath(book + "/locked"));
        for (int i = 0; i < 20; ++i)
            writeFile(book + QString("/%1.vcf").arg(i), card("6001122" + QByteArray::number(10 + i)));
        writeFile(book + "/locked/a.vcf", card("655000000"));
        QCOMPARE(::chmod(QFile::encodeName(book + "/locked").constData(), 0), 0);
        QFile::link("nowhere", book + "/gone.vcf");
        writeFile(book + "/fifo.vcf", card("666000000"));
        const QByteArray fifo = QFile::encodeName(m_dir.filePath("fifo"));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0 || errno == EEXIST);
        QCOMPARE(
            ::mount(fifo.constData(), QFile::encodeName(book + "/fifo.vcf").constData(), nullptr, MS_BIND, nullptr), 0);
        writeFile(book + "/big.vcf", card("633000001"));
        QFile big(book + "/big.vcf"); // sparse
        QVERIFY(big.open(QIODevice::ReadWrite) && big.seek(100 << 20) && big.write(card("633000002")) > 0
                && big.resize(200 << 20));
        writeFile(book + "/last.vcf", card("644000000")); // a change after all of them

        QTRY_COMPARE(ring("644000000"), QString("allow"));
        for (int i = 0; i < 20; ++i)
            QCOMPARE(ring("6001122" + QByteArray::number(10 + i)), QString("allow"));
        QCOMPARE(ring("633000001"), QString("allow"));
        for (const char *passedOver : {"633000002", "655000000", "666000000"})
            QCOMPARE(ring(passedOver), QString("block"));
        writeFile(book + "/new.vcf", card("677000000")); // read again
        QTRY_COMPARE(ring("677000000"), QString("allow"));
        const QByteArray said = readFile(errors);
        for (const char *part : {"/locked: Permission denied", "/fifo.vcf: not a file",
                                 "/big.vcf: larger than a contact", "/gone.vcf: No such file"})
            QVERIFY2(said.count(part) == 1, said.constData());
        for (int i = 0; i <= 256; ++i)
            QVERIFY(QDir().mkpath(book + QString("/wide/%1").arg(i)));
        writeFile(book + "/wider.vcf", card("688000000"));
        QTRY_COMPARE(ring("688000000"), QString("allow"));
        QCOMPARE(readFile(errors).count("/kpeoplevcard: its folders past the first 256"), 1);
        const QDir fdinfo(QString("/proc/%1/fdinfo").arg(daemonPids().front()));
        QByteArray fds;
        for (const QFileInfo &fd : fdinfo.entryInfoList(QDir::Files))
            fds += readFile(fd.filePath());
        QVERIFY(fds.count("inotify wd:") <= 256 + 1); // and the folder above: the user's watches are few
    }

    // evolution-data-server's contacts, added and removed through its own API, come through
    // the white list; a hung address book holds no call up; the service gone (its registry,
    // then its factory) takes no contact away.
    void contactsOfEvolutionDataServer()
    {
        const QString libexec = "/usr/libexec/";
        if (!QFile::exists(libexec + "evolution-source-registry")
            || QProcess::execute("/usr/bin/python3", {"-c", "import gi"}) != 0)
            QSKIP("no evolution-data-server, or no python3-gi, here");
        const QTemporaryDir home;
        const QString helper = QStringLiteral(CALLVANE_SOURCE_DIR "/tests/eds-contacts.py");
        const auto noBus = qScopeGuard([this] {
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.filePath("no-bus")));
        });
        SessionRig session;
        QVERIFY2(session.startBus(), qPrintable(session.error()));
        const QByteArray up = session.startServer(helper, {"serve", home.path()}); // "FACTORY-PID REGISTRY-PID"
        QVERIFY2(!up.isEmpty(), qPrintable(session.error()));
        const QList<QByteArray> served = up.split(' ');
        QCOMPARE(served.size(), 2);
        // What the helper printed; null when it failed.
        const auto contacts = [&helper](const QStringList &arguments) {
            QProcess call;
            call.start(helper, arguments);
            const bool done = call.waitForFinished(30000) && call.exitCode() == 0;
            return done ? call.readAllStandardOutput().trimmed() + " " : QByteArray();
        };
        const QByteArray uid = contacts({"add", "BEGIN:VCARD\nVERSION:3.0\nFN:Ana\nTEL:+34 600 11 22 33\nEND:VCARD"});
        QVERIFY(!uid.isNull());

        writeFile(storage() + ".Callvane.cfg",
                  "[Callvane]\nFirewall = Whitelist\nRepeatedCallers = 0\n[Whitelist]\nNum = 699000000\n");
        const QString errors = m_dir.filePath("errors");
        QFile::remove(errors);
        QVERIFY(startDaemon(errors));
        QTRY_COMPARE(ring("600112233"), QString("allow")); // the books open beside the first calls
        QCOMPARE(ring("633445566"), QString("block"));
        QVERIFY(!contacts({"remove", QString::fromUtf8(uid.trimmed())}).isNull());
        QTRY_COMPARE(ring("600112233"), QString("block"));

        const pid_t factory = served.at(0).toInt();
        QCOMPARE(::kill(factory, SIGSTOP), 0); // hung
        QElapsedTimer held;
        held.start();
        QCOMPARE(ring("633445566"), QString("block"));
        QVERIFY2(held.elapsed() < 1000, qPrintable(QString::number(held.elapsed()) + " ms"));
        ::kill(factory, SIGCONT);

        QVERIFY(!contacts({"add", "BEGIN:VCARD\nVERSION:3.0\nFN:Bo\nTEL:611223344\nEND:VCARD"}).isEmpty());
        QTRY_COMPARE(ring("+34 611 22 33 44"), QString("allow"));
        // In an address book made while the daemon runs.
        QVERIFY(
            !contacts({"book", "Work", "BEGIN:VCARD\nVERSION:3.0\nFN:Cy\nTEL:+34 622 33 44 55\nEND:VCARD"}).isNull());
        QTRY_COMPARE(ring("622334455"), QString("allow"));
        for (const QByteArray &service : {served.at(1), served.at(0)}) {
            const auto toldKept = [&errors] { return readFile(errors).count("the numbers read last"); };
            const int before = toldKept();
            QCOMPARE(::kill(service.toInt(), SIGKILL), 0);
            QTRY_VERIFY(toldKept() > before);
            QCOMPARE(ring("611223344"), QString("allow"));
            QCOMPARE(ring("622334455"), QString("allow"));
        }
        writeFile(storage() + ".Callvane.cfg", "[Callvane]\nFirewall = Whitelist\nAllowContacts = No\n");
        QVERIFY(startDaemon());
        QCOMPARE(ring("611223344"), QString("block"));
    }

    void regionFromTheTimeZone()
    {
        const auto restore = qScopeGuard([] {
            qputenv("CALLVANE_REGION", "ES");
            qunsetenv("TZ");
        });
        qunsetenv("CALLVANE_REGION");
        qunsetenv("LC_ALL");
        qunsetenv("LC_MESSAGES");
        qputenv("LANG", "C.UTF-8");
        qputenv("TZ", "Europe/Madrid");
        writeFile(storage() + ".Callvane.cfg",
                  "[Callvane]\nFirewall = Blacklist\n[Blacklist]\nNum = +34 600 11 22 33;905*\n");
        const QString errors = m_dir.filePath("errors");
        QVERIFY(startDaemon(errors));
        QCOMPARE(ring("600 11 22 33"), QString("block"));
        QCOMPARE(ring("905 12 34 56"), QString("block"));
        QCOMPARE(ring("906 12 34 56"), QString("allow"));
        QCOMPARE(readFile(errors).count("read as ES's (from the time zone Europe/Madrid)"), 1);
    }

    void faultsAreReportedOnce_data()
    {
        // clang-format off
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // null: a directory
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("settings are binary junk")
            << ".Callvane.cfg" << "[Callvane]\nRepeatedCallers = 0\n" + QByteArray("\x7f" "ELF\x02\x01\x01\n\x00\x01\xff\n", 11)
            << QByteArray("is damaged");
        QTest::newRow("log is a directory") << ".blockedcalls" << QByteArray() << QByteArray("cannot write the blocked-call log");
        // clang-format on
    }

    void faultsAreReportedOnce()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, said);
        QFile::remove(storage() + file);
        if (content.isNull())
            QVERIFY(QDir(storage()).mkdir(file));
        else
            writeFile(storage() + file, content);
        const QString errors = m_dir.filePath("errors");
        QVERIFY(startDaemon(errors));
        for (int call = 0; call < 3; ++call)
            QCOMPARE(ring("600112233"), QString("block"));
        const auto saidCount = [&] { return readFile(errors).count(said); };
        QTRY_COMPARE(saidCount(), 1);
        QCOMPARE(ring("600112233"), QString("block"));
        QTest::qWait(50);
        QCOMPARE(saidCount(), 1);
    }

    // A full disk: the calls are answered, and logged when there is room again.
    void fullDiskLosesNoEntry()
    {
        const SmallDisk disk(m_dir.filePath("small"), 256 * 1024);
        if (!disk.mounted())
            QSKIP("cannot mount a small tmpfs here (needs a mount namespace of our own)");
        init();
        QVERIFY(startDaemon());
        disk.fill("filler", 4096);
        for (int call = 0; call < 20; ++call)
            QCOMPARE(ring("112"), QString("block"));
        QTest::qWait(100);
        QVERIFY(logged().empty());
        QVERIFY(QFile::remove(storage() + "filler"));
        QTRY_COMPARE(logged().size(), size_t(20));
    }
};

int main(int argc, char **argv)
{
    e2etest::runUnderInit();
    QCoreApplication application(argc, argv);
    TestDaemon test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_daemon.moc"
