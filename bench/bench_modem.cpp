// A blocked call through the real ModemManager, with a simulated modem, on a private bus that
// the daemon takes for the system bus: from the modem's RING to the hang-up command it
// receives, p50 and p99. Beside it the floor of that path, a client that hangs up each call
// the moment ModemManager adds it, measured in the same run.

#include "daemonprocess.h"
#include "settingsstore/atomicfile.h"
#include "tests/modemrig.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kRingingIn = 3;

ModemRig *g_rig = nullptr;
std::string g_storage;

// The floor: hangs up every call ModemManager adds, as soon as it says so.
class InstantHangup : public QObject
{
    Q_OBJECT

public:
    explicit InstantHangup(ModemRig &rig)
        : m_rig(rig)
    {
    }
    bool listen(bool on)
    {
        QDBusConnection bus = m_rig.bus();
        const QString path = m_rig.modemPath();
        const char *slot = SLOT(callAdded(QDBusMessage));
        return on ? bus.connect(ModemRig::kService, path, ModemRig::kVoice, "CallAdded", this, slot)
                  : bus.disconnect(ModemRig::kService, path, ModemRig::kVoice, "CallAdded", this, slot);
    }

private slots:
    void callAdded(const QDBusMessage &added)
    {
        const QString call = added.arguments().value(0).value<QDBusObjectPath>().path();
        QDBusMessage hangup = QDBusMessage::createMethodCall(ModemRig::kService, call, ModemRig::kCall, "Hangup");
        m_rig.bus().call(hangup, QDBus::NoBlock);
    }

private:
    ModemRig &m_rig;
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

// Rings a black-listed number; the time to the modem's hang-up command, or -1 after 5 s.
double ringToHangup()
{
    AtModem &modem = g_rig->modem();
    modem.reset();
    // ModemManager is done with the last call first: a new RING then makes a new one.
    if (!QTest::qWaitFor([] { return g_rig->callInState(kRingingIn).isEmpty(); }, 5000))
        return -1;
    modem.ring("600112233");
    if (!QTest::qWaitFor([&] { return modem.ringToHangupMs() >= 0; }, 5000))
        return -1;
    return double(modem.ringToHangupMs());
}

// `floor`: the instant client hangs up, the daemon is stopped (SIGSTOP) meanwhile.
void measure(benchmark::State &state, bool floor)
{
    const pid_t daemon = daemonprocess::running(g_storage + ".blacklist");
    InstantHangup instant(*g_rig);
    if (daemon < 0 || (floor && (!instant.listen(true) || ::kill(daemon, SIGSTOP) != 0))) {
        state.SkipWithError("no daemon, or the floor's client cannot listen");
        return;
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        const double ms = ringToHangup();
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

void BM_RingToHangup_Daemon(benchmark::State &state)
{
    measure(state, false);
}

void BM_RingToHangup_Floor(benchmark::State &state)
{
    measure(state, true);
}

} // namespace

BENCHMARK(BM_RingToHangup_Daemon)->Iterations(50)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RingToHangup_Floor)->Iterations(50)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    g_storage = daemonprocess::temporaryStorage("/tmp/callvane-modem-XXXXXX");
    if (g_storage.empty())
        return 1;
    int result = 1;
    {
        ModemRig rig(QString::fromStdString(g_storage));
        g_rig = &rig;
        control::writeFileAtomically(g_storage + ".Callvane.cfg",
                                     "[Callvane]\nFirewall = Blacklist\n[Blacklist]\nNum = 600112233\n");
        if (!rig.start())
            std::fprintf(stderr, "bench_modem: %s\n", qPrintable(rig.error()));
        else if (std::system((g_storage + ".blacklist").c_str()) == 0) {
            benchmark::Initialize(&argc, argv);
            benchmark::RunSpecifiedBenchmarks();
            benchmark::Shutdown();
            result = 0;
        }
        // Our daemon, found by its path.
        if (const pid_t daemon = daemonprocess::running(g_storage + ".blacklist"); daemon > 0)
            ::kill(daemon, SIGTERM);
    }
    std::error_code failed;
    std::filesystem::remove_all(g_storage, failed);
    return result;
}

#include "bench_modem.moc"
