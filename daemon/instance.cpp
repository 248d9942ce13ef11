#include "daemon/instance.h"

#include "firewall/daemonlock.h"
#include "settingsstore/atomicfile.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Whether process `pid` has the file `file` open.
bool hasOpen(long pid, const struct stat &file)
{
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd/";
    DIR *dir = ::opendir(fds.c_str());
    bool found = false;
    for (const dirent *entry = dir != nullptr ? ::readdir(dir) : nullptr; entry != nullptr && !found;
         entry = ::readdir(dir)) {
        struct stat st = {};
        found = ::stat((fds + entry->d_name).c_str(), &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino;
    }
    if (dir != nullptr)
        ::closedir(dir);
    return found;
}

constexpr auto kStopWait = std::chrono::seconds(1);
constexpr auto kTakeOverWait = std::chrono::seconds(3);

// The process holding the lock at `path` (`lockFd`) when it is this storage's daemon: a process
// named .blacklist whose pid its holder wrote there for this path, and which has this very file
// open; else 0.
pid_t lockHolder(int lockFd, const std::string &path)
{
    char text[4200] = {};
    const ssize_t n = ::pread(lockFd, text, sizeof text - 1, 0);
    const std::string_view written(text, n > 0 ? size_t(n) : 0);
    if (!firewall::daemonlock::writtenFor(written, path))
        return 0;
    const long pid = firewall::daemonlock::pid(written);
    std::string comm;
    if (pid <= 1 || pid == ::getpid() || !settingsstore::readFile("/proc/" + std::to_string(pid) + "/comm", comm)
        || comm != ".blacklist\n")
        return 0;
    struct stat st = {};
    return ::fstat(lockFd, &st) == 0 && hasOpen(pid, st) ? static_cast<pid_t>(pid) : 0;
}

} // namespace

// Each start appends one byte, which the kernel places atomically: the file's length after it
// is the start's number. No lock is held, so a start stopped anywhere (SIGSTOP, a frozen
// cgroup) holds up no other. The file grows by a byte a start, some kilobytes a year.
void Instance::takeTicket(const std::string &path)
{
    m_ticketFd.reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!m_ticketFd.valid() || ::write(m_ticketFd.get(), "\n", 1) != 1)
        return; // no number: the last to take over serves, as before
    const off_t end = ::lseek(m_ticketFd.get(), 0, SEEK_CUR);
    m_ticket = end > 0 ? end : 0;
}

bool Instance::superseded() const
{
    struct stat st = {};
    return m_ticket > 0 && ::fstat(m_ticketFd.get(), &st) == 0 && st.st_size > m_ticket;
}

bool Instance::givesWayAfterStop() const
{
    if (!superseded())
        return false;
    m_reporter.inform("a newer start came while this daemon was stopped: it gives way");
    return true;
}

void Instance::release()
{
    m_lockFd.reset();
}

bool Instance::lock(const std::string &path)
{
    m_lockPath = path;
    m_lockFd.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat st = {};
    if (!m_lockFd.valid() || ::fstat(m_lockFd.get(), &st) != 0) {
        m_reporter.error("cannot open " + path + ": " + std::strerror(errno));
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        m_reporter.error(path + " belongs to another user, who could keep the firewall off; remove it");
        return false;
    }
    ::fchmod(m_lockFd.get(), 0600); // made by an older version, it may be open to others
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    int sent = 0; // the last signal sent to the holder
    for (;;) {
        const bool locked = ::flock(m_lockFd.get(), LOCK_EX | LOCK_NB) == 0;
        const int error = errno;
        // Checked with the lock held too: a newer start may have served, and stopped, meanwhile.
        if (superseded()) {
            release();
            return false;
        }
        if (locked)
            break;
        if (error != EWOULDBLOCK && error != EINTR) {
            m_reporter.error("cannot lock " + path + ": " + std::strerror(error));
            return false;
        }
        const auto waited = Clock::now() - started;
        const int signal = waited >= kStopWait ? SIGKILL : SIGTERM;
        if (const pid_t holder = lockHolder(m_lockFd.get(), path); holder > 0 && signal != sent) {
            if (::kill(holder, signal) != 0 && errno == EPERM) {
                m_reporter.error("the daemon of another user (pid " + std::to_string(holder) + ") holds " + path);
                return false;
            }
            sent = signal;
        }
        if (waited >= kTakeOverWait) {
            m_reporter.error(path + " is held by a process that is not a daemon of ours (see fuser " += path + ")");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // A former holder's pid must not stay there to be signalled.
    if (::ftruncate(m_lockFd.get(), 0) != 0)
        m_reporter.error("cannot empty " + path + ": " + std::strerror(errno));
    return true;
}

void Instance::recordHolder()
{
    const std::string pid = firewall::daemonlock::format(::getpid(), m_lockPath);
    if (::pwrite(m_lockFd.get(), pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
        m_reporter.error(std::string("cannot write its pid to the instance lock: ") + std::strerror(errno));
}

// The parent is gone (or a zombie, which the probe passes over) by the time a probe that
// waited for the daemon to answer lists the processes.
bool Instance::detach()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    settingsstore::UniqueFd hearReady(ends[0]);
    settingsstore::UniqueFd sayReady(ends[1]);
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child > 0) {
        sayReady.reset();
        char byte = 0;
        ssize_t n = 0;
        while ((n = ::read(hearReady.get(), &byte, 1)) < 0 && errno == EINTR) { }
        // A stop sent while the daemon was starting (a killall that found only this process)
        // is meant for the daemon; it waits here, blocked, to be seen.
        sigset_t pending;
        ::sigpending(&pending);
        const bool stopped = sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGINT) == 1;
        if (stopped)
            ::kill(child, SIGTERM);
        ::_exit(n == 1 && !stopped ? 0 : 1);
    }
    hearReady.reset();
    if (::setsid() < 0 || ::chdir("/") != 0)
        return false;
    const settingsstore::UniqueFd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!null.valid())
        return false;
    // stderr stays where a starter sent it when that is a file or a journal's socket; not a
    // terminal that may close, nor a pipe whose reader would wait for the daemon to end.
    // Reports also go to the system log.
    struct stat err = {};
    const bool errIsAFile = ::fstat(2, &err) == 0 && (S_ISREG(err.st_mode) || S_ISSOCK(err.st_mode));
    for (int fd = 0; fd <= 2; ++fd) {
        if (fd < 2 || !errIsAFile)
            ::dup2(null.get(), fd);
    }
    // Named in the lock before the starter hears of it: a start that follows at once (and
    // maybe stops this one first) must find whom to stop.
    recordHolder();
    return ::write(sayReady.get(), "r", 1) == 1;
}

void Instance::runFromMemory(char **argv)
{
    // Said by the exec below: an emulator (qemu-user) shows no memfd in /proc/self/exe.
    constexpr char kFromMemory[] = "CALLVANE_FROM_MEMORY";
    char self[32] = {};
    if (std::getenv(kFromMemory) != nullptr
        || (::readlink("/proc/self/exe", self, sizeof self - 1) > 0 && std::strncmp(self, "/memfd:", 7) == 0)) {
        ::unsetenv(kFromMemory);
        ::prctl(PR_SET_NAME, ".blacklist"); // an exec by descriptor is named after the descriptor
        return;
    }
    const settingsstore::UniqueFd exe(::open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    // Left open across the exec: without execveat (qemu-user, which runs the arm64 build on
    // other processors) fexecve execs /proc/self/fd/N, which must still be there for the
    // emulator to open. The new image closes it with all else it inherited.
    const settingsstore::UniqueFd copy(::memfd_create(".blacklist", MFD_ALLOW_SEALING));
    struct stat st = {};
    if (exe.valid() && copy.valid() && ::fstat(exe.get(), &st) == 0) {
        off_t done = 0;
        while (st.st_size > done
               && ::sendfile(copy.get(), exe.get(), &done, static_cast<size_t>(st.st_size - done)) > 0) { }
        if (done == st.st_size
            && ::fcntl(copy.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) == 0
            && ::setenv(kFromMemory, "1", 1) == 0) {
            ::fexecve(copy.get(), argv, environ);
            ::unsetenv(kFromMemory);
        }
    }
}
