// The blocking daemon. Started as <storage>.blacklist by the window; screens the calls that
// arrive on <storage>.blacklist.sock with the settings of <storage>.Callvane.cfg as they were
// at its start. One instance at a time: the newest start takes over from a running one.

#include "control/atomicfile.h"
#include "control/blockednotice.h"
#include "control/callscreen.h"
#include "control/commandline.h"
#include "control/daemonsocket.h"
#include "control/firewallsettings.h"
#include "control/inidocument.h"
#include "control/keycache.h"
#include "control/mobilenetworks.h"
#include "control/storage.h"
#include "daemon/installwatch.h"
#include "daemon/logqueue.h"
#include "daemon/modemwatcher.h"
#include "daemon/notifier.h"
#include "daemon/reporter.h"
#include "daemon/socketkeeper.h"
#include "daemon/socketserver.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <malloc.h>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

constexpr char kUsage[] = R"(Usage: blacklist [--help] [--version]

The Callvane call firewall's daemon. Run as <storage>.blacklist, where the window deploys it,
it detaches and screens the calls that arrive on <storage>.blacklist.sock with the settings of
<storage>.Callvane.cfg as they are at its start; blocked calls go to <storage>.blockedcalls,
and to a desktop notice where the session has a notification server.
A start while one runs takes over from it; SIGTERM stops it. Without a readable
settings copy it does not start (status 1).

Environment:
  CALLVANE_STORAGE  the storage directory (default /ezxlocal/download/mystuff/)
  CALLVANE_REGION   two letters (ES, DE, ...): the region of national numbers
                    (default: the country of the mobile network ModemManager is on,
                    else of the locale, else of the time zone)
  CALLVANE_LANGUAGES  the window's language files, set by the window: a blocked call's
                    desktop notice is in the words of the settings' Language there
  CALLVANE_INSTALLED  the installed daemon it was deployed from: when that file is
                    removed (the package uninstalled), the daemon stops

Problems it meets (a damaged settings copy, a log it cannot write) are said once on
stderr, when that is a file or a journal, and in the system log.
)";

constexpr auto kStopWait = std::chrono::seconds(1);
constexpr auto kTakeOverWait = std::chrono::seconds(3);
// What waits to be logged at a stop is written for at most this long.
constexpr auto kFinalWrite = std::chrono::milliseconds(1000);
// How long the start waits for ModemManager to say which network the phone is on.
constexpr auto kAskNetwork = std::chrono::milliseconds(500);

int g_lockFd = -1;

int onStop(sd_event_source *source, const struct signalfd_siginfo * /*info*/, void * /*userdata*/)
{
    // Releasing the lock first lets the restart that sent this signal take over at once. No
    // part runs after this (the loop dispatches one source at a time), so none can take the
    // socket path back from a successor.
    if (g_lockFd >= 0)
        ::close(g_lockFd);
    g_lockFd = -1;
    return sd_event_exit(sd_event_source_get_event(source), 0);
}

// SIGTERM and SIGINT stop the loop; the stop goes before anything else that waits.
bool stopOnSignals(sd_event *loop)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        sd_event_source *source = nullptr;
        if (sd_event_add_signal(loop, &source, signal, onStop, nullptr) < 0)
            return false;
        sd_event_source_set_priority(source, SD_EVENT_PRIORITY_IMPORTANT);
        sd_event_source_set_floating(source, 1);
        sd_event_source_unref(source);
    }
    return true;
}

// The process holding the instance lock when it is a daemon of ours: the pid its holder
// wrote there, checked against the process's name, or 0.
pid_t lockHolder(int lockFd)
{
    char text[32] = {};
    const ssize_t n = ::pread(lockFd, text, sizeof text - 1, 0);
    const long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
    if (pid <= 1 || pid == ::getpid())
        return 0;
    std::string comm;
    if (!control::readFile("/proc/" + std::to_string(pid) + "/comm", comm) || comm != ".blacklist\n")
        return 0;
    return static_cast<pid_t>(pid);
}

// The newest start serves, so that a switch-on takes up what changed while the firewall was
// off: a daemon already running is told to stop, and killed when it does not let go in time
// (a stopped one cannot act on SIGTERM). False, said on stderr, when it cannot take over.
bool takeInstanceLock(const std::string &path)
{
    g_lockFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat st = {};
    if (g_lockFd < 0 || ::fstat(g_lockFd, &st) != 0) {
        std::fprintf(stderr, "blacklist: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        std::fprintf(stderr, "blacklist: %s belongs to another user, who could keep the firewall off; remove it\n",
                     path.c_str());
        return false;
    }
    ::fchmod(g_lockFd, 0600); // made by an older version, it may be open to others
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    int sent = 0; // the last signal sent to the holder
    while (::flock(g_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            std::fprintf(stderr, "blacklist: cannot lock %s: %s\n", path.c_str(), std::strerror(errno));
            return false;
        }
        const auto waited = Clock::now() - started;
        const int signal = waited >= kStopWait ? SIGKILL : SIGTERM;
        if (const pid_t holder = lockHolder(g_lockFd); holder > 0 && signal != sent) {
            if (::kill(holder, signal) != 0 && errno == EPERM) {
                std::fprintf(stderr, "blacklist: the daemon of another user (pid %ld) holds %s\n",
                             static_cast<long>(holder), path.c_str());
                return false;
            }
            sent = signal;
        }
        if (waited >= kTakeOverWait) {
            std::fprintf(stderr, "blacklist: %s is held by a process that is not a daemon of ours (see fuser %s)\n",
                         path.c_str(), path.c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // A former holder's pid must not stay there to be signalled.
    if (::ftruncate(g_lockFd, 0) != 0)
        std::fprintf(stderr, "blacklist: cannot empty %s: %s\n", path.c_str(), std::strerror(errno));
    return true;
}

// Names the detached daemon in the lock file, for the start that will take over from it.
void recordHolder()
{
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::pwrite(g_lockFd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
        std::fprintf(stderr, "blacklist: cannot write its pid to the instance lock: %s\n", std::strerror(errno));
}

// A settings copy that cannot be read gives no daemon: made-up rules (white-list mode with
// empty lists) would block every call. One that is damaged gives what can be read, and the
// owner is told.
std::optional<control::FirewallSettings> readSettings(const std::string &path, Reporter &reporter)
{
    std::string text;
    if (!control::readFile(path, text)) {
        std::fprintf(stderr, "blacklist: cannot read %s (%s); not starting without the firewall's settings\n",
                     path.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    const control::IniDocument document = control::IniDocument::parse(std::move(text));
    if (const size_t stray = document.strayLines(); stray > 0) {
        reporter.report(Fault::Settings,
                        path + " is damaged: " + std::to_string(stray) + " lines are not settings and are ignored");
    }
    return control::FirewallSettings::read(document);
}

// What this start parsed, to be kept in the key cache once the first calls are answered;
// with no entries, the cache is removed then.
struct KeysToSave
{
    std::vector<std::string> entries;
    std::vector<std::uint64_t> keys;
};

// Entries parsed at an earlier start are taken from the key cache; what this start had to
// parse goes to `toSave` (left empty when the cache holds the list as it is). An empty list
// has nothing to take from a cache, however large, and leaves none.
control::CallScreen indexList(control::FirewallSettings &settings, const std::string &region,
                              std::optional<KeysToSave> &toSave)
{
    const std::string path = control::storage::keyCachePath();
    std::vector<std::string> &entries = settings.blacklistMode ? settings.blacklist : settings.whitelist;
    if (entries.empty()) {
        toSave.emplace();
        return {settings, region};
    }
    const control::keycache::Keys known = control::keycache::load(path, region);
    std::vector<std::uint64_t> keys;
    control::CallScreen screen(settings, region, &known, &keys);
    if (screen.parsed() > 0 || known.size() != keys.size())
        toSave = KeysToSave{std::move(entries), std::move(keys)};
    return screen;
}

// Forks; the parent returns to its caller (status 0) once the child has detached, so that a
// script that starts the daemon in the foreground goes on when calls can be answered. The
// parent is gone (or a zombie, which the probe passes over) by the time a probe that waited
// for the daemon to answer lists the processes.
bool detach()
{
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child > 0) {
        ::close(ready[1]);
        char byte = 0;
        ssize_t n = 0;
        while ((n = ::read(ready[0], &byte, 1)) < 0 && errno == EINTR) { }
        // A stop sent while the daemon was starting (a killall that found only this process)
        // is meant for the daemon; it waits here, blocked, to be seen.
        sigset_t pending;
        ::sigpending(&pending);
        const bool stopped = sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGINT) == 1;
        if (stopped)
            ::kill(child, SIGTERM);
        ::_exit(n == 1 && !stopped ? 0 : 1);
    }
    ::close(ready[0]);
    if (::setsid() < 0 || ::chdir("/") != 0)
        return false;
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        return false;
    // stderr stays where a starter sent it when that is a file or a journal's socket; not a
    // terminal that may close, nor a pipe whose reader would wait for the daemon to end.
    // Reports also go to the system log.
    struct stat err = {};
    const bool keepErr = ::fstat(2, &err) == 0 && (S_ISREG(err.st_mode) || S_ISSOCK(err.st_mode));
    for (int fd = 0; fd <= 2; ++fd) {
        if (fd < 2 || !keepErr)
            ::dup2(null, fd);
    }
    ::close(null);
    // Named in the lock before the starter hears of it: a start that follows at once (and
    // maybe stops this one first) must find whom to stop.
    recordHolder();
    const bool told = ::write(ready[1], "r", 1) == 1;
    ::close(ready[1]);
    return told;
}

// `work` on a thread of its own; where none can be had, here and now.
std::thread inBackground(const std::function<void()> &work)
{
    try {
        return std::thread(work);
    } catch (const std::system_error &) {
        work();
        return {};
    }
}

// cp cannot write over a running executable ("Text file busy"), so an upgrade deployed while
// the daemon runs would never reach it. The daemon runs from a sealed copy in memory instead,
// and the deployed file stays free for the next deploy; where that cannot be done, it runs
// from the deployed file as it is.
void runFromMemory(char **argv)
{
    char self[32] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) > 0 && std::strncmp(self, "/memfd:", 7) == 0) {
        ::prctl(PR_SET_NAME, ".blacklist"); // an exec by descriptor is named after the descriptor
        return;
    }
    const int exe = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    const int copy = ::memfd_create(".blacklist", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    struct stat st = {};
    if (exe >= 0 && copy >= 0 && ::fstat(exe, &st) == 0) {
        off_t done = 0;
        while (done<st.st_size && ::sendfile(copy, exe, &done, static_cast<size_t>(st.st_size - done))> 0) { }
        if (done == st.st_size
            && ::fcntl(copy, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) == 0)
            ::fexecve(copy, argv, environ);
    }
    ::close(exe);
    ::close(copy);
}

} // namespace

int main(int argc, char **argv)
{
    const auto options = control::commandline::parse(argc, argv, "blacklist", kUsage);
    if (options.exitStatus)
        return *options.exitStatus;
    if (options.firstOperand < argc) {
        std::fprintf(stderr, "blacklist: takes no arguments\nTry 'blacklist --help'.\n");
        return 2;
    }
    // A starter that stops reading our stderr (or a caller that hangs up) must not end us.
    ::signal(SIGPIPE, SIG_IGN);
    // Whatever the starter left open (the window's files and sockets) is not ours.
    ::close_range(3, ~0U, 0);
    runFromMemory(argv);

    control::storage::resolve();
    if (!takeInstanceLock(control::storage::daemonLockPath()))
        return 1;
    // Listening before anything slow: calls that come meanwhile wait in the backlog.
    const std::string socketPath = control::storage::daemonSocketPath();
    const int listenFd = control::daemonsocket::listenAt(socketPath);
    if (listenFd < 0) {
        std::fprintf(stderr, "blacklist: cannot listen on %s: %s\n", socketPath.c_str(), std::strerror(errno));
        return 1;
    }
    Reporter reporter;
    std::optional<control::FirewallSettings> settings =
        readSettings(control::storage::deployedSettingsPath(), reporter);
    if (!settings)
        return 1;

    // From here a stop waits, blocked, for the event loop (or for detach() to pass it on).
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    ::sigprocmask(SIG_BLOCK, &stops, nullptr);
    ::signal(SIGHUP, SIG_IGN);

    // Before detaching, which changes to "/": a relative path is the starter's.
    const std::string installed = InstallWatch::resolve(std::getenv("CALLVANE_INSTALLED"));
    if (!detach())
        return 1;
    reporter.toSystemLog();
    const control::CallScreen::Region region = control::CallScreen::regionFromEnvironment(
        [] { return control::mobilenetworks::regionOf(ModemWatcher::operatorCode(kAskNetwork)); });
    reporter.inform(region.code.empty()
                        ? "no region is known: only numbers in international form, and national numbers of them, "
                          "match (set CALLVANE_REGION)"
                        : "numbers without a country code are read as " + region.code + "'s (from " + region.whence
                            + ")");
    std::optional<KeysToSave> toSave;
    const control::CallScreen screen = indexList(*settings, region.code, toSave);
    control::BlockedNotice notice = control::BlockedNotice::ofLanguage(settings->language);
    settings.reset();
    ::malloc_trim(0); // the settings text and the lists were many times the index
    // After the fork: an sd-event loop is its process's own.
    sd_event *made = nullptr;
    const int madeLoop = sd_event_new(&made);
    const std::unique_ptr<sd_event, decltype(&sd_event_unref)> loop(made, sd_event_unref);
    if (madeLoop < 0 || !stopOnSignals(made)) {
        std::fprintf(stderr, "blacklist: cannot set up its event loop\n");
        return 1;
    }
    // The cache is written (and synced), or removed, beside the loop: no call waits for it.
    std::thread saveKeys;
    if (toSave) {
        saveKeys = inBackground([&toSave, path = control::storage::keyCachePath(), code = region.code] {
            if (toSave->entries.empty())
                ::unlink(path.c_str());
            else
                control::keycache::save(path, code, toSave->entries, toSave->keys);
            toSave.reset();
            ::malloc_trim(0);
        });
    }
    LogQueue log(made, control::storage::blockedCallsPath(), control::storage::blockedCallsLockPath(), reporter);
    Notifier notifier(made, std::move(notice));
    const auto logBlocked = [&log, &notifier](const std::string &number) {
        log.add(number);
        notifier.post(number);
    };
    SocketServer server(made, listenFd, screen, logBlocked);
    SocketKeeper keeper(made, socketPath, server, reporter);
    ModemWatcher modem(
        made, [&screen](const std::string &number) { return screen.blocks(number); }, logBlocked, reporter);
    InstallWatch install(made, installed, [&] {
        reporter.report(Fault::Installed, installed + " was removed (the package was uninstalled): stopping");
        sd_event_exit(made, 0);
    });
    sd_event_loop(made);
    log.flush(kFinalWrite);
    if (saveKeys.joinable())
        saveKeys.join();
    return 0;
}
