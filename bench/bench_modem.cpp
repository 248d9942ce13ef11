// ModemManager's side of a blocked call: from CallAdded to the daemon's Hangup, over 1,000
// black-listed calls, p50 and p99. The bench plays ModemManager itself (sd-bus) on a private
// bus that the daemon takes for the system bus.

#include "atomicfile.h"
#include "daemonprocess.h"
#include "daemonsocket.h"
#include "storage.h"

#include <benchmark/benchmark.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kPrefix[] = "/org/freedesktop/ModemManager1/Call";

std::string g_storage;
std::string g_address;
std::map<std::string, Clock::time_point> g_hungUp;

int number(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *, sd_bus_error *)
{
    return sd_bus_message_append(reply, "s", "600112233");
}

int direction(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *, sd_bus_error *)
{
    return sd_bus_message_append(reply, "u", 1U); // incoming
}

int state(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *, sd_bus_error *)
{
    return sd_bus_message_append(reply, "i", 3); // ringing in
}

int hangup(sd_bus_message *message, void *, sd_bus_error *)
{
    g_hungUp[sd_bus_message_get_path(message)] = Clock::now();
    return sd_bus_reply_method_return(message, "");
}

const sd_bus_vtable kCall[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Number", "s", number, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Direction", "u", direction, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("State", "i", state, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("Hangup", "", "", hangup, 0),
    SD_BUS_VTABLE_END,
};

// Rings call `n`; the time until it was hung up, or a negative one after two seconds.
double ringAndWait(sd_bus *bus, int n)
{
    const std::string path = std::string(kPrefix) + "/" + std::to_string(n);
    const auto start = Clock::now();
    sd_bus_emit_signal(bus, "/org/freedesktop/ModemManager1/Modem/0", "org.freedesktop.ModemManager1.Modem.Voice",
                       "CallAdded", "o", path.c_str());
    while (g_hungUp.count(path) == 0) {
        if (Clock::now() - start > std::chrono::seconds(2))
            return -1;
        if (sd_bus_process(bus, nullptr) == 0)
            sd_bus_wait(bus, 10000);
    }
    return std::chrono::duration<double, std::milli>(g_hungUp[path] - start).count();
}

void BM_CallAddedToHangup(benchmark::State &state)
{
    sd_bus *bus = nullptr;
    if (sd_bus_new(&bus) < 0 || sd_bus_set_address(bus, g_address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0
        || sd_bus_start(bus) < 0
        || sd_bus_add_fallback_vtable(bus, nullptr, kPrefix, "org.freedesktop.ModemManager1.Call", kCall, nullptr,
                                      nullptr)
            < 0
        || sd_bus_request_name(bus, "org.freedesktop.ModemManager1", 0) < 0) {
        state.SkipWithError("cannot play ModemManager on the private bus");
        return;
    }
    // The daemon watches once it hangs up a first call.
    int n = 0;
    bool watching = false;
    for (int attempt = 0; attempt < 50 && !watching; ++attempt)
        watching = ringAndWait(bus, ++n) >= 0;
    if (!watching) {
        state.SkipWithError("the daemon hung up no call");
        return;
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        const double ms = ringAndWait(bus, ++n);
        if (ms < 0) {
            state.SkipWithError("a call was not hung up");
            break;
        }
        latencies.push_back(ms);
    }
    std::sort(latencies.begin(), latencies.end());
    const auto percentile = [&](double p) {
        return latencies.empty() ? 0 : latencies[size_t(p * double(latencies.size() - 1))];
    };
    state.counters["p50_ms"] = percentile(0.50);
    state.counters["p99_ms"] = percentile(0.99);
    sd_bus_flush_close_unref(bus);
}

} // namespace

BENCHMARK(BM_CallAddedToHangup)->Iterations(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    g_storage = daemonprocess::temporaryStorage("/tmp/callvane-modem-XXXXXX");
    if (g_storage.empty())
        return 1;
    // A private bus, which the daemon is to take for the system bus.
    const std::string address = "--address=unix:path=" + g_storage + "bus";
    const pid_t busPid = daemonprocess::startServer(
        {"dbus-daemon", "--session", "--nofork", "--print-address=1", address.c_str()}, 1, g_address);
    if (busPid < 0)
        return 1;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", g_address.c_str(), 1);

    control::writeFileAtomically(g_storage + ".Callvane.cfg",
                                 "[Callvane]\nFirewall = Blacklist\n[Blacklist]\nNum = 600112233\n");
    const bool started = std::system((g_storage + ".blacklist").c_str()) == 0;
    if (started) {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    // Our daemon, found by its path, and our bus.
    if (const pid_t daemon = daemonprocess::running(g_storage + ".blacklist"); daemon > 0)
        ::kill(daemon, SIGTERM);
    ::kill(busPid, SIGTERM);
    ::waitpid(busPid, nullptr, 0);
    std::error_code failed;
    std::filesystem::remove_all(g_storage, failed);
    return started ? 0 : 1;
}
