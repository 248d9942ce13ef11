// The real daemon over its socket: decisions per second and latency percentiles, start-up
// time and resident memory, with N numbers on the active black list. The list holds numbers;
// or numbers and 1,000 prefix entries ("+34 8123*"); or entries of 240 characters (longer than
// any phone number, compared as text). The same daemon with an empty list shows what the list
// costs; the *BesidePeer figures set it beside peerserver, started and asked alternately in
// the same run: a server that answers "allow" to every line, and one that loads the same list
// into a hash set.

#include "daemonprocess.h"
#include "firewall/daemonsocket.h"
#include "firewall/storage.h"
#include "settingsstore/atomicfile.h"
#include "settingsstore/numberlist.h"
#include "tests/sessionrig.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum Kind : int64_t { Numbers, WithPrefixes, Long };
enum Program { TheDaemon, AllowPeer, HashSetPeer, ScreenPeer };

std::string g_storage;

// Our own daemon, started as the window starts it, or a peer; stopped by its process id.
class Daemon
{
public:
    // `cached`: the key cache of an earlier start is kept (a restart), else removed (a first
    // start). `edited`: one number more than `numbers`, as after adding one. `settings`, when
    // given, is the settings copy instead of a black list of `numbers`.
    explicit Daemon(int64_t numbers, bool cached = false, bool edited = false, int64_t kind = Numbers,
                    Program program = TheDaemon, const std::string &settings = {})
        : socket(program == TheDaemon ? firewall::Storage::fromEnvironment().daemonSocket()
                                      : g_storage + "peer" + std::to_string(program) + ".sock")
    {
        std::string list; // each entry ends in ';', which the list's reader skips
        for (int64_t i = 0; i < numbers; ++i)
            list += (kind == Long ? std::string(230, '9') + std::to_string(1000000000 + i)
                                  : "+346" + std::to_string(10000000 + i))
                + ";";
        for (int64_t i = 0; kind == WithPrefixes && i < 1000; ++i)
            list += "+34 8" + std::to_string(1000 + i) + "*;";
        if (edited)
            list += "+34 911 00 00 00";
        if (!cached)
            std::remove((g_storage + ".blacklist.keys").c_str());
        settingsstore::writeFileAtomically(
            g_storage + ".Callvane.cfg",
            settings.empty() ? "[Callvane]\nFirewall = Blacklist\n[Blacklist]\nNum = " + list + "\n" : settings);
        const std::string path = program == TheDaemon ? g_storage + ".blacklist" : std::string(PEER_SERVER);
        const std::string arguments = program == AllowPeer ? " allow " + socket
            : program == HashSetPeer                       ? " hashset " + socket + " " + g_storage + ".Callvane.cfg"
            : program == ScreenPeer                        ? " screen " + socket + " " + g_storage + ".Callvane.cfg"
                                                           : std::string();
        ::unlink(socket.c_str());
        const auto start = Clock::now();
        if (std::system(("exec " + path + arguments + " &").c_str()) != 0)
            return;
        // Ready once it answers, i.e. once the list is indexed.
        bool answered = false;
        while (!(answered = daemonprocess::ask(socket, "0")) && Clock::now() - start < std::chrono::seconds(60))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        startup = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        m_pid = answered ? daemonprocess::running(path, program == TheDaemon ? std::string() : socket) : -1;
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
    bool ask(const std::string &number, std::string *answer = nullptr) const
    {
        return daemonprocess::ask(socket, number, answer);
    }

    const std::string socket;
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
        if (!daemon.ask(number)) {
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
        Daemon daemon(numbers, restart, restart, kind);
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
    const auto ring = [&daemon](int64_t calls) {
        std::vector<std::thread> callers;
        for (int64_t t = 0; t < 4; ++t) {
            callers.emplace_back([&daemon, calls, t] {
                for (int64_t i = t; i < calls; i += 4)
                    daemon.ask(i % 2 == 0 ? "+34 6" + std::to_string(10000000 + i % 1000)
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Whether `argv`, run with this process's environment, succeeds.
bool succeeds(const std::vector<const char *> &argv)
{
    std::vector<char *> args;
    for (const char *arg : argv)
        args.push_back(const_cast<char *>(arg));
    args.push_back(nullptr);
    pid_t pid = -1;
    int status = 0;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, args.data(), environ) == 0
        && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

enum Book : int64_t { KPeople, EvolutionDataServer };

std::string card(const std::string &number)
{
    return "BEGIN:VCARD\nVERSION:3.0\nTEL;TYPE=CELL:" + number + "\nEND:VCARD\n";
}

// `count` of KPeople's vCards, a file each, with the numbers +34 610000000 on.
void writeCards(const std::string &book, int count)
{
    std::filesystem::create_directories(book);
    for (int i = 0; i < count; ++i)
        settingsstore::writeFileAtomically(book + std::to_string(i) + ".vcf",
                                           card("+34 6" + std::to_string(10000000 + i)));
}

// Strangers calling in white-list mode, the owner's 10,000 contacts read and not read, in
// turns: what the contacts add to a blocked call's decision. The contacts are KPeople's vCards
// (a file each), or evolution-data-server's, its registry and factory on a bus of their own
// (tests/eds-contacts.py).
void BM_ContactsBesideNone(benchmark::State &state)
{
    const std::string data = g_storage + "data";
    SessionRig services;
    if (state.range(0) == KPeople) {
        writeCards(data + "/kpeoplevcard/", 10000);
    } else {
        std::filesystem::create_directories(data);
        const char *helper = CALLVANE_SOURCE_DIR "/tests/eds-contacts.py";
        if (!services.startBus() || services.startServer(helper, {"serve", QString::fromStdString(data)}).isEmpty()
            || !succeeds({helper, "fill", "10000"})) {
            state.SkipWithError("evolution-data-server did not take the contacts");
            return;
        }
    }
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    std::vector<double> decisions[2]; // in microseconds: without contacts, with them
    std::vector<double> startups[2];
    std::vector<double> served; // from the start until every contact counts
    for (auto _ : state) {
        for (const int contacts : {0, 1}) {
            const auto begun = Clock::now();
            const Daemon daemon(0, false, false, Numbers, TheDaemon,
                                std::string("[Callvane]\nFirewall = Whitelist\nRepeatedCallers = 0\nAllowContacts = ")
                                    + (contacts != 0 ? "Yes" : "No") + "\n[Whitelist]\nNum = 699000000\n");
            startups[contacts].push_back(daemon.startup);
            // Until the last contact is let through: every contact is read.
            std::string answer;
            while (contacts != 0 && daemon.ask("+34 610009999", &answer) && answer != "allow")
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (contacts != 0)
                served.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begun).count());
            for (int64_t i = 0; i < 200; ++i) {
                const auto begin = Clock::now();
                daemon.ask("+34 7" + std::to_string(10000000 + i));
                decisions[contacts].push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
            }
        }
    }
    ::unsetenv("XDG_DATA_HOME");
    services.stop();
    std::filesystem::remove_all(data);
    std::remove((g_storage + ".blockedcalls").c_str());
    state.counters["without_us"] = median(decisions[0]);
    state.counters["with_us"] = median(decisions[1]);
    state.counters["added_ms"] = (median(decisions[1]) - median(decisions[0])) / 1000;
    state.counters["startup_without_ms"] = median(startups[0]);
    state.counters["startup_with_ms"] = median(startups[1]);
    state.counters["contacts_served_ms"] = median(served);
}

// Strangers calling in white-list mode with 1,000 numbers the owner called and 1,000 callers
// blocked just before, beside the same with both turned off: what they add to a decision.
void BM_CallsThatMatterBesideNone(benchmark::State &state)
{
    const std::string placed = firewall::Storage::fromEnvironment().callsPlaced();
    std::string calls = "callvane-calls 1\n";
    for (int i = 0; i < 1000; ++i)
        calls += "called " + std::to_string(std::time(nullptr)) + " +34 62" + std::to_string(1000000 + i) + "\n";
    std::vector<double> decisions[2]; // in microseconds: off, on
    for (auto _ : state) {
        for (const int on : {0, 1}) {
            settingsstore::writeFileAtomically(placed, calls);
            const Daemon daemon(0, false, false, Numbers, TheDaemon,
                                std::string("[Callvane]\nFirewall = Whitelist\n")
                                    + (on != 0 ? "" : "CallBacks = 0\nRepeatedCallers = 0\n") + "[Whitelist]\n");
            for (int64_t i = 0; i < 1200; ++i) {
                const auto begin = Clock::now();
                daemon.ask("+34 7" + std::to_string(10000000 + i));
                if (i >= 1000)
                    decisions[on].push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
            }
        }
    }
    std::remove(placed.c_str());
    std::remove((g_storage + ".blockedcalls").c_str());
    state.counters["off_us"] = median(decisions[0]);
    state.counters["on_us"] = median(decisions[1]);
    state.counters["added_ms"] = (median(decisions[1]) - median(decisions[0])) / 1000;
}

enum Reread : int64_t { ManyCards, HugeFile };

// Strangers calling in white-list mode while the vCards are read again after a change (from
// the change until the card it added counts), beside the same calls with nothing being read:
// the longest wait of each. The book holds 10,000 cards, or a 200 MB file (a sparse one, as a
// large photo would be) beside one card.
void BM_CallsDuringReread(benchmark::State &state)
{
    const std::string book = g_storage + "data/kpeoplevcard/";
    writeCards(book, state.range(0) == ManyCards ? 10000 : 1);
    if (state.range(0) == HugeFile) {
        std::ofstream(book + "huge.vcf") << card("+34 699999999");
        std::filesystem::resize_file(book + "huge.vcf", 200 << 20);
    }
    ::setenv("XDG_DATA_HOME", (g_storage + "data").c_str(), 1);
    {
        const Daemon daemon(0, false, false, Numbers, TheDaemon,
                            "[Callvane]\nFirewall = Whitelist\nRepeatedCallers = 0\n[Whitelist]\nNum = 699000000\n");
        std::vector<double> quiet; // in milliseconds
        std::vector<double> during;
        const auto timedAsk = [&daemon](std::vector<double> &waits, const std::string &number, std::string *answer) {
            const auto begin = Clock::now();
            const bool answered = daemon.ask(number, answer);
            waits.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
            return answered;
        };
        int64_t round = 0;
        for (auto _ : state) {
            for (int64_t i = 0; i < 300; ++i)
                timedAsk(quiet, "+34 7" + std::to_string(10000000 + i), nullptr);
            const std::string added = "+34 62" + std::to_string(1000000 + round++);
            settingsstore::writeFileAtomically(book + "added" + std::to_string(round) + ".vcf", card(added));
            const auto changed = Clock::now();
            std::string answer;
            while (timedAsk(during, "+34 7" + std::to_string(10000000 + round), nullptr)
                   && timedAsk(during, added, &answer) && answer != "allow"
                   && Clock::now() - changed < std::chrono::seconds(30)) { }
            if (answer != "allow") {
                state.SkipWithError("the added card never counted");
                break;
            }
        }
        const auto longest = [](const std::vector<double> &waits) {
            return waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
        };
        state.counters["quiet_max_ms"] = longest(quiet);
        state.counters["during_max_ms"] = longest(during);
        state.counters["added_max_ms"] = longest(during) - longest(quiet);
        state.counters["during_calls"] = double(during.size());
    }
    ::unsetenv("XDG_DATA_HOME");
    std::filesystem::remove_all(g_storage + "data");
}

// Calls not on a list of 100,000, to the daemon and to the "allow" peer in turns of 500 each;
// beside them the screening peer, which decides as the daemon does (one parse of each caller
// with the phone-number library) on the allow peer's loop: what is left to the daemon's loop.
void BM_DecisionsBesidePeer(benchmark::State &state)
{
    const Daemon daemon(100000);
    const Daemon screening(100000, false, false, Numbers, ScreenPeer);
    const Daemon peer(0, false, false, Numbers, AllowPeer);
    if (!daemon.running() || !screening.running() || !peer.running()) {
        state.SkipWithError("a server did not start");
        return;
    }
    const auto rate = [](const Daemon &server, int64_t round) {
        const auto begin = Clock::now();
        for (int64_t i = 0; i < 500; ++i)
            server.ask("+34 7" + std::to_string(10000000 + round * 500 + i));
        return 500 / std::chrono::duration<double>(Clock::now() - begin).count();
    };
    std::vector<double> ours;
    std::vector<double> screens;
    std::vector<double> peers;
    std::vector<double> ratios;
    std::vector<double> screenRatios;
    int64_t round = 0;
    for (auto _ : state) {
        ours.push_back(rate(daemon, round));
        screens.push_back(rate(screening, round));
        peers.push_back(rate(peer, round++));
        ratios.push_back(ours.back() / peers.back());
        screenRatios.push_back(screens.back() / peers.back());
    }
    state.counters["per_s"] = median(ours);
    state.counters["peer_per_s"] = median(peers);
    state.counters["ratio"] = median(ratios);
    state.counters["screening_ratio"] = median(screenRatios);
}

// The first answer of a first start (no key cache) and of a restart after an edit, beside the
// hash-set peer's first answer with the same list, started in turns.
void BM_StartupBesidePeer(benchmark::State &state)
{
    const int64_t numbers = state.range(0);
    const bool restart = state.range(1) != 0;
    std::vector<double> ours;
    std::vector<double> peers;
    std::vector<double> ratios;
    for (auto _ : state) {
        state.PauseTiming();
        if (restart)
            const Daemon before(numbers, true);
        state.ResumeTiming();
        const Daemon daemon(numbers, restart, restart);
        state.PauseTiming();
        const Daemon peer(numbers, true, restart, Numbers, HashSetPeer);
        state.ResumeTiming();
        if (!daemon.running() || !peer.running()) {
            state.SkipWithError("a server did not start");
            return;
        }
        ours.push_back(daemon.startup);
        peers.push_back(peer.startup);
        ratios.push_back(ours.back() / peers.back());
    }
    state.counters["startup_ms"] = median(ours);
    state.counters["peer_ms"] = median(peers);
    state.counters["ratio"] = median(ratios);
}

// A start with an emptied list while the key cache of 1,000,000 entries is there, beside a start
// with an empty list and no cache, in turns.
void BM_EmptiedBesideEmpty(benchmark::State &state)
{
    std::vector<double> ours;
    std::vector<double> peers;
    std::vector<double> ratios;
    for (auto _ : state) {
        state.PauseTiming();
        {
            const Daemon before(1000000, true);
        }
        state.ResumeTiming();
        double emptied = 0;
        {
            const Daemon daemon(0, true);
            emptied = daemon.running() ? daemon.startup : -1;
        }
        const Daemon peer(0);
        if (emptied < 0 || !peer.running()) {
            state.SkipWithError("the daemon did not start");
            return;
        }
        ours.push_back(emptied);
        peers.push_back(peer.startup);
        ratios.push_back(ours.back() / peers.back());
    }
    state.counters["startup_ms"] = median(ours);
    state.counters["peer_ms"] = median(peers);
    state.counters["ratio"] = median(ratios);
}

} // namespace

BENCHMARK(BM_EmptiedBesideEmpty)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ContactsBesideNone)
    ->ArgName("book")
    ->Arg(KPeople)
    ->Arg(EvolutionDataServer)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_CallsThatMatterBesideNone)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CallsDuringReread)
    ->ArgName("book")
    ->Arg(ManyCards)
    ->Arg(HugeFile)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_DecisionsBesidePeer)->Iterations(21)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StartupBesidePeer)
    ->ArgNames({"numbers", "restart"})
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_MemoryFlat)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Startup)
    ->ArgNames({"numbers", "restart", "kind"})
    ->Args({0, 0, Numbers})
    ->Args({100000, 0, Numbers})
    ->Args({100000, 0, Long})
    ->Args({100000, 1, Numbers})
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
