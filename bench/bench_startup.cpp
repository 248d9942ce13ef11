// Whole-process start-up: from exec to the window mapped on an X display (a private Xvfb).
// Callvane with N numbers in each list and N logged calls is measured against a plain Qt
// window with the same four icon tabs and N rows in each list (built in bench/, the floor of
// any window with this screen), the same window running Callvane's start-up commands and
// probe first, the same window running the platform program's own start-up commands (each
// spawned, the probe through the shell: the cost the window is held to), and Callvane's window
// without its commands (a shell that only records); the five in turn in each round, as medians and ratios, with the
// resident memory of each when its window is mapped. An empty Qt window of the same size, and the same with one text
// label (the floor of any window with text), are measured too.
//
// As on a phone, some 500 processes (kernel threads included) run beside them, where a build
// machine has a few dozen: a probe reads each one's. Every program gets the same private
// session bus, as on a desktop or a phone. Without one each start would spend milliseconds
// autolaunching a bus of its own (dbus-launch).

#include "control/commands.h"
#include "daemonprocess.h"
#include "firewall/blockedcalllog.h"
#include "settingsstore/atomicfile.h"
#include "settingsstore/numberlist.h"
#include "tests/sessionrig.h"

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::string g_work;

struct Start
{
    double ms = -1; // from exec to the first top-level window the program maps
    long residentKiB = -1; // then
};

Start timeToMappedWindow(const std::vector<std::string> &command, const std::vector<std::string> &environment)
{
    xcb_connection_t *x = xcb_connect(nullptr, nullptr); // the rig's display
    if (xcb_connection_has_error(x) != 0) {
        xcb_disconnect(x);
        return {};
    }
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    std::vector<std::string> env = environment;
    env.push_back(std::string("DISPLAY=") + std::getenv("DISPLAY"));
    env.push_back("QT_QPA_PLATFORM=xcb");
    env.push_back(std::string("DBUS_SESSION_BUS_ADDRESS=") + std::getenv("DBUS_SESSION_BUS_ADDRESS"));
    std::vector<char *> envp;
    for (std::string &entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = command;
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const auto begin = Clock::now();
    pid_t pid = -1;
    Start start;
    const int spawned = ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data());
    if (spawned == 0) {
        while (xcb_generic_event_t *event = xcb_wait_for_event(x)) {
            const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
            std::free(event);
            if (mapped) {
                start.ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
                start.residentKiB = daemonprocess::residentKiB(pid);
                break;
            }
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    xcb_disconnect(x);
    return start;
}

// A program directory as the build lays it out, with `numbers` in each list and as many
// calls logged.
std::string callvaneWith(int numbers)
{
    const std::string dir = g_work + "/prog" + std::to_string(numbers) + "/";
    const std::string storage = g_work + "/storage" + std::to_string(numbers) + "/";
    fs::create_directories(storage);
    fs::copy(CALLVANE_PROGRAM_DIR, dir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    std::string black;
    std::string white;
    std::vector<firewall::calllog::Entry> calls;
    for (int i = 0; i < numbers; ++i) {
        black += (i > 0 ? ";+346" : "+346") + std::to_string(10000000 + i);
        white += (i > 0 ? ";+347" : "+347") + std::to_string(10000000 + i);
        calls.push_back({"+346" + std::to_string(10000000 + i), "2026-12-08 10:00:00"});
    }
    settingsstore::writeFileAtomically(dir + "Callvane.cfg",
                                       "[Callvane]\nLanguage = English\nFirewall = Blacklist\n[Blacklist]\nNum = "
                                           + black + "\n[Whitelist]\nNum = " + white + "\n");
    settingsstore::writeFileAtomically(storage + ".blockedcalls", firewall::calllog::format(calls));
    return storage;
}

// A sequence as the window's shell runs it: one command a line.
std::string script(const std::vector<std::string> &commands)
{
    std::string text;
    for (const std::string &command : commands)
        text += command + '\n';
    return text;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void floor(benchmark::State &state, const std::vector<std::string> &command)
{
    std::vector<double> times;
    for (auto _ : state) {
        const double ms = timeToMappedWindow(command, {}).ms;
        if (ms < 0) {
            state.SkipWithError("no window was mapped (or no connection to Xvfb)");
            return;
        }
        times.push_back(ms);
    }
    state.counters["median_ms"] = median(times);
}

void BM_EmptyQtWindow(benchmark::State &state)
{
    floor(state, {EMPTY_WINDOW});
}

void BM_OneLabelQtWindow(benchmark::State &state)
{
    floor(state, {EMPTY_WINDOW, "label"});
}

void BM_Startup(benchmark::State &state)
{
    const int numbers = int(state.range(0));
    const std::string storage = callvaneWith(numbers);
    const std::string dir = g_work + "/prog" + std::to_string(numbers) + "/";
    fs::copy_file(WINDOW_ONLY, dir + "callvane-window-only", fs::copy_options::overwrite_existing);
    const std::vector<std::string> environment = {"CALLVANE_STORAGE=" + storage,
                                                  "PATH=" + std::string(std::getenv("PATH"))};
    const control::Commands commands(dir, storage);
    const std::vector<std::vector<std::string>> programs = {
        {EMPTY_WINDOW, "tabs", std::to_string(numbers), dir + "images"},
        {dir + "callvane"},
        {dir + "callvane-window-only"},
        {EMPTY_WINDOW, "tabs", std::to_string(numbers), dir + "images", script(commands.startup()),
         script(commands.probe()), commands.removeProbeFile()},
        {EMPTY_WINDOW, "tabs", std::to_string(numbers), dir + "images", "part", dir, storage}};
    std::vector<std::vector<double>> times(programs.size());
    std::vector<std::vector<double>> memory(programs.size());
    for (auto _ : state) {
        for (size_t i = 0; i < programs.size(); ++i) {
            const Start start = timeToMappedWindow(programs[i], environment);
            if (start.ms < 0) {
                state.SkipWithError("no window was mapped (or no connection to Xvfb)");
                return;
            }
            times[i].push_back(start.ms);
            memory[i].push_back(double(start.residentKiB) / 1024);
        }
    }
    const double peer = median(times[0]);
    const double callvane = median(times[1]);
    const double windowOnly = median(times[2]);
    state.counters["peer_ms"] = peer;
    state.counters["callvane_ms"] = callvane;
    state.counters["no_commands_ms"] = windowOnly;
    state.counters["peer_with_commands_ms"] = median(times[3]);
    state.counters["ratio"] = callvane / peer;
    state.counters["ratio_with_commands"] = callvane / median(times[3]);
    state.counters["ratio_no_commands"] = windowOnly / peer;
    state.counters["platform_peer_ms"] = median(times[4]);
    state.counters["ratio_to_platform"] = callvane / median(times[4]);
    state.counters["peer_rss_MiB"] = median(memory[0]);
    state.counters["callvane_rss_MiB"] = median(memory[1]);
    state.counters["rss_ratio"] = median(memory[1]) / median(memory[0]);
}

} // namespace

BENCHMARK(BM_EmptyQtWindow)->Iterations(9)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OneLabelQtWindow)->Iterations(9)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Startup)
    ->ArgName("numbers")
    ->Arg(10)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(9)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char **argv)
{
    SessionRig session;
    char work[] = "/tmp/callvane-startup-XXXXXX";
    const bool ready = session.startDisplay("360x720x24", {"-noreset"})
        && session.startBus("DBUS_SESSION_BUS_ADDRESS", "/usr/share/dbus-1/session.conf") && ::mkdtemp(work) != nullptr;
    if (ready) {
        g_work = work;
        std::vector<pid_t> idle(500, -1); // a phone's processes
        for (pid_t &pid : idle) {
            if ((pid = ::fork()) == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                ::pause();
                ::_exit(0);
            }
        }
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        for (const pid_t pid : idle) {
            if (pid > 0 && ::kill(pid, SIGKILL) == 0)
                ::waitpid(pid, nullptr, 0);
        }
        fs::remove_all(g_work);
    } else {
        std::fprintf(stderr, "bench_startup: %s\n", qPrintable(session.error()));
    }
    return ready ? 0 : 1;
}
