// A blocked call through the real ModemManager, then through the real oFono, each with a
// simulated modem, on a private bus that the daemon takes for the system bus: from the modem's
// RING to the hang-up command it receives, p50 and p99, for a black-listed caller and for a
// withheld one. Beside it the floor of that path, a client that hangs up each call the moment
// the service adds it, measured in the same run.

#include "daemonprocess.h"
#include "settingsstore/atomicfile.h"
#include "tests/telephonyrig.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

std::unique_ptr<TelephonyRig> g_rig;
std::optional<std::string> g_service; // whose rig runs
std::string g_storage;

void tearDown()
{
    // Our daemon, found by its path.
    if (const pid_t daemon = daemonprocess::running(g_storage + ".blacklist"); daemon > 0)
        ::kill(daemon, SIGTERM);
    g_rig.reset();
    std::error_code failed;
    if (!g_storage.empty())
        std::filesystem::remove_all(g_storage, failed);
}

// The rig of `service` (CALLVANE_TELEPHONY's value), with a daemon that blocks 600112233 and
// withheld callers; false when it cannot be had.
bool use(const std::string &service)
{
    if (service == g_service)
        return g_rig != nullptr;
    tearDown();
    g_service = service;
    qputenv("CALLVANE_TELEPHONY", QByteArray::fromStdString(service));
    g_storage = daemonprocess::temporaryStorage("/tmp/callvane-modem-XXXXXX");
    if (g_storage.empty())
        return false;
    g_rig = TelephonyRig::make(QString::fromStdString(g_storage));
    settingsstore::writeFileAtomically(
        g_storage + ".Callvane.cfg",
        "[Callvane]\nFirewall = Blacklist\nBlockUnknown = Yes\n[Blacklist]\nNum = 600112233\n");
    if (!g_rig->start()) {
        std::fprintf(stderr, "bench_modem: %s\n", qPrintable(g_rig->error()));
        g_rig.reset();
    } else if (std::system((g_storage + ".blacklist").c_str()) != 0) {
        g_rig.reset();
    }
    return g_rig != nullptr;
}

// The floor: hangs up every call the service adds, as soon as it says so.
class InstantHangup : public QObject
{
    Q_OBJECT

public:
    explicit InstantHangup(TelephonyRig &rig)
        : m_rig(rig)
    {
    }
    bool listen(bool on)
    {
        QDBusConnection bus = m_rig.bus();
        const QStringList signal = m_rig.callAddedAndHangup();
        const char *slot = SLOT(callAdded(QDBusMessage));
        return on ? bus.connect(m_rig.service(), m_rig.modemPath(), signal[0], signal[1], this, slot)
                  : bus.disconnect(m_rig.service(), m_rig.modemPath(), signal[0], signal[1], this, slot);
    }

private slots:
    void callAdded(const QDBusMessage &added)
    {
        const QString call = added.arguments().value(0).value<QDBusObjectPath>().path();
        const QString interface = m_rig.callAddedAndHangup()[2];
        m_rig.bus().call(QDBusMessage::createMethodCall(m_rig.service(), call, interface, "Hangup"), QDBus::NoBlock);
    }

private:
    TelephonyRig &m_rig;
};

void report(benchmark::State &state, std::vector<double> &latencies)
{
    std::sort(latencies.begin(), latencies.end());
    const auto percentile = [&](double p) {
        return latencies.empty() ? 0 : latencies[size_t(p * double(latencies.size() - 1))];
    };
    state.counters["p50_ms"] = percentile(0.50);
    state.counters["p99_ms"] = percentile(0.99);
}

// Rings; the time to the modem's hang-up command, or -1 after 5 s.
double ringToHangup(AtModem::NumberComes comes)
{
    AtModem &modem = g_rig->modem();
    modem.reset();
    // The service is done with the last call first: a new RING then makes a new one.
    if (!QTest::qWaitFor([] { return g_rig->callIn(TelephonyRig::CallState::Ringing).isEmpty(); }, 5000))
        return -1;
    modem.ring("600112233", comes);
    if (!QTest::qWaitFor([&] { return modem.ringToHangupMs() >= 0; }, 5000))
        return -1;
    return double(modem.ringToHangupMs());
}

// `floor`: the instant client hangs up, the daemon is stopped (SIGSTOP) meanwhile.
void measure(benchmark::State &state, const std::string &service, bool floor, AtModem::NumberComes comes)
{
    if (!use(service)) {
        state.SkipWithError("the service, its modem or the daemon did not start");
        return;
    }
    const pid_t daemon = daemonprocess::running(g_storage + ".blacklist");
    InstantHangup instant(*g_rig);
    if (daemon < 0 || (floor && (!instant.listen(true) || ::kill(daemon, SIGSTOP) != 0))) {
        state.SkipWithError("no daemon, or the floor's client cannot listen");
        return;
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        const double ms = ringToHangup(comes);
        if (ms < 0) {
            state.SkipWithError("a call was not hung up");
            break;
        }
        latencies.push_back(ms);
    }
    if (floor) {
        instant.listen(false);
        ::kill(daemon, SIGCONT);
    }
    report(state, latencies);
}

// The daemon's first answer on its socket from its exec, with ModemManager answering and with
// it mute (stopped): the mobile network's region is asked beside the loop, so the mute one
// holds no call (it held the first answer for its 500 ms wait when the start asked first).
void BM_FirstAnswerBesideAMuteService(benchmark::State &state)
{
    const pid_t service = use("") ? pid_t(g_rig->servicePid()) : -1;
    if (service <= 0) {
        state.SkipWithError("the service, its modem or the daemon did not start");
        return;
    }
    const char *set = std::getenv("CALLVANE_REGION");
    const std::string region = set != nullptr ? set : "ES";
    ::unsetenv("CALLVANE_REGION"); // else the network is not asked
    const std::string socket = firewall::Storage::fromEnvironment().daemonSocket();
    std::vector<double> answers[2]; // answering, mute
    for (auto _ : state) {
        for (const int mute : {0, 1}) {
            if (mute != 0)
                ::kill(service, SIGSTOP);
            const auto begun = std::chrono::steady_clock::now();
            bool answered = std::system((g_storage + ".blacklist").c_str()) == 0;
            while (answered && !daemonprocess::ask(socket, "600112233"))
                answered = std::chrono::steady_clock::now() - begun < std::chrono::seconds(10);
            answers[mute].push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begun).count());
            ::kill(service, SIGCONT);
            if (!answered) {
                state.SkipWithError("the daemon did not answer");
                break;
            }
        }
    }
    ::setenv("CALLVANE_REGION", region.c_str(), 1);
    for (std::vector<double> &times : answers)
        std::sort(times.begin(), times.end());
    state.counters["answering_ms"] = answers[0].empty() ? -1 : answers[0][answers[0].size() / 2];
    state.counters["mute_ms"] = answers[1].empty() ? -1 : answers[1][answers[1].size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    using Comes = AtModem::NumberComes;
    for (const auto &[service, name] : {std::pair{"", "ModemManager"}, std::pair{"ofono", "oFono"}}) {
        for (const auto &[kind, floor, comes, iterations] :
             {std::tuple{"Daemon", false, Comes::WithRing, 50}, std::tuple{"Floor", true, Comes::WithRing, 50},
              std::tuple{"Daemon_Withheld", false, Comes::Withheld, 5}}) {
            benchmark::RegisterBenchmark((std::string("BM_RingToHangup_") + name + "_" + kind).c_str(), measure,
                                         std::string(service), floor, comes)
                ->Iterations(iterations)
                ->Repetitions(3)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
    benchmark::RegisterBenchmark("BM_FirstAnswerBesideAMuteService", BM_FirstAnswerBesideAMuteService)
        ->Iterations(9)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    tearDown();
    return 0;
}

#include "bench_modem.moc"
