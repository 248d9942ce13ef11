// The blocking daemon. Started as <storage>.blacklist by the window; screens the calls that
// arrive on <storage>.blacklist.sock with the settings of <storage>.Callvane.cfg as they were
// at its start. One instance at a time: the newest start takes over from a running one.

#include "daemon/index.h"
#include "daemon/installwatch.h"
#include "daemon/instance.h"
#include "daemon/runtime/reporter.h"
#include "daemon/screening.h"
#include "daemon/userunit.h"
#include "firewall/blockednotice.h"
#include "firewall/commandline.h"
#include "firewall/daemonsocket.h"
#include "firewall/storage.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
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
  CALLVANE_UNIT     the systemd user unit that serves this storage, set by the launcher
                    for the window: a start restarts that unit instead, where the user
                    manager runs, and returns once it has started

Problems it meets (a damaged settings copy, a log it cannot write) are said once on
stderr, when that is a file or a journal, and in the system log.
)";

// What waits to be logged at a stop is written for at most this long.
constexpr auto kFinalWrite = std::chrono::milliseconds(1000);

int onStop(sd_event_source *source, const struct signalfd_siginfo * /*info*/, void *instance)
{
    // Releasing the lock first lets the restart that sent this signal take over at once. No
    // part runs after this (the loop dispatches one source at a time), so none can take the
    // socket path back from a successor.
    static_cast<Instance *>(instance)->release();
    return sd_event_exit(sd_event_source_get_event(source), 0);
}

// Going on after a stop (SIGSTOP, a debugger) while a newer start came: that start's settings
// are the owner's, whether it serves them or gave up, and this daemon's are not.
int onContinued(sd_event_source *source, const struct signalfd_siginfo *info, void *instance)
{
    return static_cast<Instance *>(instance)->givesWayAfterStop() ? onStop(source, info, instance) : 0;
}

// SIGTERM and SIGINT stop the loop, SIGCONT may; they go before anything else that waits.
bool handleSignals(sd_event *loop, Instance &instance)
{
    for (const int signal : {SIGTERM, SIGINT, SIGCONT}) {
        sd_event_source *source = nullptr;
        const bool added =
            sd_event_add_signal(loop, &source, signal, signal == SIGCONT ? onContinued : onStop, &instance) >= 0
            && sd_event_source_set_priority(source, SD_EVENT_PRIORITY_IMPORTANT) >= 0
            && sd_event_source_set_floating(source, 1) >= 0;
        sd_event_source_unref(source); // the loop holds a floating source
        if (!added)
            return false;
    }
    return true;
}

// From here a stop waits, blocked, for the event loop (or for detach() to pass it on).
void holdStops()
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGCONT); // blocked, it still continues the process
    ::sigprocmask(SIG_BLOCK, &stops, nullptr);
    ::signal(SIGHUP, SIG_IGN);
}

} // namespace

int main(int argc, char **argv)
{
    const auto options = firewall::commandline::parse(argc, argv, "blacklist", kUsage);
    if (options.exitStatus)
        return *options.exitStatus;
    if (options.firstOperand < argc) {
        Reporter().error("takes no arguments\nTry 'blacklist --help'.");
        return 2;
    }
    // A starter that stops reading our stderr (or a caller that hangs up) must not end us.
    ::signal(SIGPIPE, SIG_IGN);
    // Whatever the starter left open (the window's files and sockets) is not ours.
    ::close_range(3, ~0U, 0);
    if (const char *unit = std::getenv(UserUnit::kVariable); unit != nullptr && *unit != '\0') {
        switch (UserUnit::restart(unit, Reporter())) {
        case UserUnit::Outcome::Started: return 0;
        case UserUnit::Outcome::Failed: return 1;
        case UserUnit::Outcome::NotThere: break;
        }
    }
    Instance::runFromMemory(argv);

    const firewall::Storage storage = firewall::Storage::fromEnvironment();
    Reporter reporter;
    Instance instance(reporter);
    instance.takeTicket(storage.daemonStarts());
    // Before the daemon that serves is stopped: a start that cannot serve leaves it.
    reporter.toSystemLog();
    std::optional<firewall::FirewallSettings> settings = Index::readSettings(storage.deployedSettings(), reporter);
    if (!settings)
        return 1;
    // Resolved before detaching, which changes to "/": a relative path is the starter's.
    const char *installedVariable = std::getenv("CALLVANE_INSTALLED");
    const std::string installed = InstallWatch::resolve(installedVariable);
    if (installedVariable != nullptr && *installedVariable != '\0' && installed.empty()) {
        reporter.report(Fault::Installed,
                        std::string(installedVariable) + " is gone (the package was uninstalled): not starting");
        return 1;
    }
    if (!instance.lock(storage.daemonLock()))
        return instance.superseded() ? 0 : 1; // a newer start serves
    // Listening before anything slow: calls that come meanwhile wait in the backlog.
    const std::string socketPath = storage.daemonSocket();
    const int listenFd = firewall::daemonsocket::listenAt(socketPath);
    if (listenFd < 0) {
        reporter.error("cannot listen on " + socketPath + ": " + std::strerror(errno));
        return 1;
    }

    holdStops();

    const char *languages = std::getenv(firewall::BlockedNotice::kLanguagesVariable);
    if (!instance.detach())
        return 1;
    // After the fork: an sd-event loop is its process's own.
    sd_event *made = nullptr;
    const int madeLoop = sd_event_new(&made);
    const std::unique_ptr<sd_event, decltype(&sd_event_unref)> loop(made, sd_event_unref);
    if (madeLoop < 0 || !handleSignals(made, instance)) {
        reporter.error("cannot set up its event loop");
        return 1;
    }
    // Watched from the first moment: a removal while the lists are indexed waits in the loop.
    InstallWatch install(made, installed, [&] {
        reporter.report(Fault::Installed, installed + " was removed (the package was uninstalled): stopping");
        sd_event_exit(made, 0);
    });
    Screening screening(made, storage, *settings, languages, listenFd, reporter);
    const int ran = sd_event_loop(made);
    screening.finish(kFinalWrite);
    if (ran < 0) {
        reporter.error(std::string("its event loop failed: ") + std::strerror(-ran));
        return 1;
    }
    return 0;
}
