// The real daemon over its socket: decisions per second and latency percentiles, start-up
// time and resident memory, with N numbers on the active black list. The peer is the same
// daemon with an empty list, measured in the same run: the ratio shows what the list costs.
// The list holds numbers; or numbers and 1,000 prefix entries ("+34 8123*"); or entries of
// 240 characters (longer than any phone number, compared as text).

#include "control/atomicfile.h"
#include "control/daemonsocket.h"
#include "control/numberlist.h"
#include "control/storage.h"
#include "daemonprocess.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Emptied: the list is emptied after a start with the numbers (a large key cache stays).
enum Kind : int64_t { Numbers, WithPrefixes, Long, Emptied };

std::string g_storage;

bool ask(const std::string &number)
{
    const int fd = control::daemonsocket::connectTo(control::storage::daemonSocketPath());
    if (fd < 0)
        return false;
    const std::string line = number + "\n";
    char reply[16];
    const bool ok = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size())
        && ::read(fd, reply, sizeof reply) == 6;
    ::close(fd);
    return ok;
}

// Our own daemon, started as the window starts it and stopped by its process id.
class Daemon
{
public:
    // `cached`: the key cache of an earlier start is kept (a restart), else removed (a first
    // start). `edited`: one number more than `numbers`, as after adding one.
    explicit Daemon(int64_t numbers, bool cached = false, bool edited = false, int64_t kind = Numbers)
    {
        std::vector<std::string> list;
        for (int64_t i = 0; i < numbers; ++i)
            list.push_back(kind == Long ? std::string(230, '9') + std::to_string(1000000000 + i)
                                        : "+346" + std::to_string(10000000 + i));
        for (int64_t i = 0; kind == WithPrefixes && i < 1000; ++i)
            list.push_back("+34 8" + std::to_string(1000 + i) + "*");
        if (edited)
            list.push_back("+34 911 00 00 00");
        if (!cached)
            std::remove((g_storage + ".blacklist.keys").c_str());
        control::writeFileAtomically(g_storage + ".Callvane.cfg",
                                     "[Callvane]\nFirewall = Blacklist\n[Blacklist]\nNum = " + control::joinList(list)
                                         + "\n");
        const auto start = Clock::now();
        if (std::system(("exec " + g_storage + ".blacklist &").c_str()) != 0)
            return;
        // Ready once it answers, i.e. once the list is indexed.
        bool answered = false;
        while (!(answered = ask("0")) && Clock::now() - start < std::chrono::seconds(60))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        startup = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        m_pid = answered ? daemonprocess::running(g_storage + ".blacklist") : -1;
        memory = daemonprocess::residentKiB(m_pid);
    }
    ~Daemon()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            // Gone, or a zombie (no memory) that whoever adopted it has yet to reap.
            while (daemonprocess::residentKiB(m_pid) > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    bool running() const { return m_pid > 0; }
    long resident() const { return daemonprocess::residentKiB(m_pid); }

    double startup = 0;
    long memory = 0;

private:
    pid_t m_pid = -1;
};

void BM_Decisions(benchmark::State &state)
{
    Daemon daemon(state.range(0), false, false, state.range(1));
    if (!daemon.running()) {
        state.SkipWithError("the daemon did not start");
        return;
    }
    std::vector<double> latencies;
    int64_t i = 0;
    for (auto _ : state) {
        // Half on the list (blocked and logged), half off it, in the forms callers use.
        const std::string number = (i % 2 == 0)
            ? "+34 6" + std::to_string(10000000 + (i * 7919) % std::max<int64_t>(1, state.range(0)))
            : "+34 7" + std::to_string(10000000 + i);
        const auto begin = Clock::now();
        if (!ask(number)) {
            state.SkipWithError("no answer");
            break;
        }
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
        ++i;
    }
    std::sort(latencies.begin(), latencies.end());
    const auto percentile = [&](double p) {
        return latencies.empty() ? 0 : latencies[size_t(p * double(latencies.size() - 1))];
    };
    state.SetItemsProcessed(state.iterations());
    state.counters["p50_us"] = percentile(0.50);
    state.counters["p99_us"] = percentile(0.99);
    state.counters["startup_ms"] = daemon.startup;
    state.counters["rss_KiB"] = double(daemon.memory);
}

// Start-up until the first answer, the daemon's first (nothing cached) and a restart after
// a number was added (the window's restart); the peer is a start with an empty list.
void BM_Startup(benchmark::State &state)
{
    const int64_t numbers = state.range(0);
    const bool restart = state.range(1) != 0;
    const int64_t kind = state.range(2);
    std::vector<double> times;
    for (auto _ : state) {
        if (restart) {
            state.PauseTiming();
            {
                const Daemon before(numbers, true, false, kind);
            }
            state.ResumeTiming();
        }
        Daemon daemon(kind == Emptied ? 0 : numbers, restart, restart && kind != Emptied, kind);
        if (!daemon.running()) {
            state.SkipWithError("the daemon did not start");
            return;
        }
        times.push_back(daemon.startup);
    }
    std::sort(times.begin(), times.end());
    state.counters["startup_ms"] = times[times.size() / 2];
}

// Resident memory stays flat over 1,000,000 decisions (half of them blocked and logged), from
// four callers at once; the counter is the growth after a first 20,000 in per cent.
void BM_MemoryFlat(benchmark::State &state)
{
    Daemon daemon(1000);
    if (!daemon.running()) {
        state.SkipWithError("the daemon did not start");
        return;
    }
    const auto ring = [](int64_t calls) {
        std::vector<std::thread> callers;
        for (int64_t t = 0; t < 4; ++t) {
            callers.emplace_back([calls, t] {
                for (int64_t i = t; i < calls; i += 4)
                    ask(i % 2 == 0 ? "+34 6" + std::to_string(10000000 + i % 1000)
                                   : "+34 7" + std::to_string(10000000 + i));
            });
        }
        for (auto &caller : callers)
            caller.join();
    };
    ring(20000);
    const long before = daemon.resident();
    for (auto _ : state)
        ring(state.range(0));
    state.counters["rss_before_KiB"] = double(before);
    state.counters["growth_percent"] = 100.0 * double(daemon.resident() - before) / double(before);
    std::remove((g_storage + ".blockedcalls").c_str());
}

} // namespace

BENCHMARK(BM_MemoryFlat)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Startup)
    ->ArgNames({"numbers", "restart", "kind"})
    ->Args({0, 0, Numbers})
    ->Args({100000, 0, Numbers})
    ->Args({100000, 0, Long})
    ->Args({100000, 1, Numbers})
    ->Args({1000000, 1, Emptied})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Decisions)
    ->ArgNames({"numbers", "kind"})
    ->Args({0, Numbers})
    ->Args({1000, Numbers})
    ->Args({100000, Numbers})
    ->Args({100000, WithPrefixes})
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2.0)
    ->UseRealTime();

int main(int argc, char **argv)
{
    g_storage = daemonprocess::temporaryStorage("/tmp/callvane-bench-XXXXXX");
    if (g_storage.empty())
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code failed;
    std::filesystem::remove_all(g_storage, failed);
    return failed ? 1 : 0;
}
