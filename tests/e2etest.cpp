#include "e2etest.h"

#include "firewall/daemonsocket.h"
#include "firewall/storage.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2etest {

namespace {
bool g_underInit = false;
} // namespace

bool runUnderInit()
{
    if (::getpid() != 1)
        return false;
    const pid_t tests = ::fork();
    if (tests < 0)
        ::_exit(3);
    if (tests == 0) {
        g_underInit = true;
        return true;
    }
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(-1, &status, 0);
        if (ended == tests)
            ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        if (ended < 0 && errno != EINTR)
            ::_exit(3);
    }
}

bool inPrivatePidNamespace()
{
    return g_underInit;
}

namespace {

// Every live process named ".blacklist": daemons, and starts that have not forked yet.
std::vector<pid_t> blacklistProcesses()
{
    std::vector<pid_t> pids;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number)
            continue;
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        if (line.contains("(.blacklist)") && close > 0 && line.mid(close + 2, 1) != "Z")
            pids.push_back(pid);
    }
    return pids;
}

} // namespace

std::vector<pid_t> daemonPids()
{
    std::vector<pid_t> pids = blacklistProcesses();
    pids.erase(std::remove_if(pids.begin(), pids.end(), [](pid_t pid) { return ::getsid(pid) != pid; }), pids.end());
    return pids;
}

pid_t soleDaemon()
{
    const std::vector<pid_t> pids = daemonPids();
    return pids.size() == 1 ? pids.front() : 0;
}

QString commandLine(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()).section(QChar(0), 0, 0) : QString();
}

void stopDaemons()
{
    // Again at every look: a start the test began may only now have become a daemon.
    const auto stopAll = [] {
        const std::vector<pid_t> pids = blacklistProcesses();
        for (const pid_t pid : pids)
            ::kill(pid, SIGTERM);
        return pids.empty();
    };
    // Not QTRY: after a failed check it would give up at once and leave daemons to the next test.
    QDeadlineTimer deadline(5000);
    while (!stopAll()) {
        if (deadline.hasExpired())
            QFAIL("daemons still run 5 s after SIGTERM");
        QTest::qWait(10);
    }
}

QString ring(const QByteArray &number)
{
    QByteArray command = CALLVANE_PROGRAM_DIR "/callvane-ring";
    if (!number.isNull())
        command += " '" + number + "'";
    FILE *pipe = ::popen((command + " 2>/dev/null").constData(), "r");
    if (pipe == nullptr)
        return {};
    char line[64] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    return read ? QString::fromLatin1(line).trimmed() : QString();
}

namespace {

int connectToDaemon()
{
    return firewall::daemonsocket::connectTo(firewall::Storage::fromEnvironment().daemonSocket());
}

} // namespace

bool daemonListens()
{
    const int fd = connectToDaemon();
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

bool deployAndStart(const QByteArray &settings, const QString &errorFile)
{
    const QString storage = QString::fromStdString(firewall::Storage::fromEnvironment().dir());
    QFile::remove(storage + ".blacklist");
    QFile copy(storage + ".Callvane.cfg");
    if (!QFile::copy(CALLVANE_PROGRAM_DIR "/blacklist", storage + ".blacklist")
        || !copy.open(QIODevice::WriteOnly | QIODevice::Truncate) || copy.write(settings) != settings.size())
        return false;
    copy.close();
    const QByteArray command = QFile::encodeName(storage + ".blacklist") + " 2>>" + QFile::encodeName(errorFile);
    return std::system(command.constData()) == 0 && daemonListens();
}

Reply request(const QByteArrayList &pieces, int waitMs)
{
    Reply reply;
    const int fd = connectToDaemon();
    if (fd < 0)
        return reply;
    for (const QByteArray &piece : pieces) {
        if (&piece != &pieces.front())
            QTest::qWait(50);
        [[maybe_unused]] const ssize_t sent = ::send(fd, piece.constData(), size_t(piece.size()), MSG_NOSIGNAL);
    }
    pollfd poller{fd, POLLIN, 0};
    while (::poll(&poller, 1, waitMs) > 0) {
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            reply.closed = true;
            break;
        }
        reply.data.append(buffer, int(n));
    }
    ::close(fd);
    return reply;
}

SmallDisk::SmallDisk(const QString &dir, qint64 spare)
    : m_dir(QFile::encodeName(dir))
    , m_savedStorage(qgetenv(firewall::Storage::kDirVariable))
{
    const QByteArray size = "size=" + QByteArray::number(QFileInfo(CALLVANE_PROGRAM_DIR "/blacklist").size() + spare);
    m_mounted = QDir().mkpath(dir) && ::mount("tmpfs", m_dir.constData(), "tmpfs", 0, size.constData()) == 0;
    if (m_mounted)
        qputenv(firewall::Storage::kDirVariable, m_dir + "/");
}

SmallDisk::~SmallDisk()
{
    if (!m_mounted)
        return;
    stopDaemons();
    ::umount(m_dir.constData());
    qputenv(firewall::Storage::kDirVariable, m_savedStorage);
}

void SmallDisk::fill(const QString &name, int piece) const
{
    const int fd = ::open(QFile::encodeName(name).prepend(m_dir + "/").constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const std::string bytes(size_t(piece), 'x');
    while (fd >= 0 && ::write(fd, bytes.data(), bytes.size()) > 0) { }
    ::close(fd);
}

} // namespace e2etest
