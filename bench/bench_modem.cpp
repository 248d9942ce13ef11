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
#include <string>
#include <vector>

namespace {

TelephonyRig *g_rig = nullptr;
std::string g_storage;

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
void measure(benchmark::State &state, bool floor, AtModem::NumberComes comes)
{
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

// The benchmarks against the service CALLVANE_TELEPHONY names; false when it cannot be run.
bool runWith(const std::string &service)
{
    g_storage = daemonprocess::temporaryStorage("/tmp/callvane-modem-XXXXXX");
    if (g_storage.empty())
        return false;
    bool ran = false;
    {
        const std::unique_ptr<TelephonyRig> rig = TelephonyRig::make(QString::fromStdString(g_storage));
        g_rig = rig.get();
        control::writeFileAtomically(
            g_storage + ".Callvane.cfg",
            "[Callvane]\nFirewall = Blacklist\nBlockUnknown = Yes\n[Blacklist]\nNum = 600112233\n");
        if (!rig->start())
            std::fprintf(stderr, "bench_modem: %s\n", qPrintable(rig->error()));
        else if (std::system((g_storage + ".blacklist").c_str()) == 0) {
            using Comes = AtModem::NumberComes;
            benchmark::ClearRegisteredBenchmarks();
            for (const auto &[name, floor, comes, iterations] :
                 {std::tuple{"Daemon", false, Comes::WithRing, 50}, std::tuple{"Floor", true, Comes::WithRing, 50},
                  std::tuple{"Daemon_Withheld", false, Comes::Withheld, 5}}) {
                benchmark::RegisterBenchmark(("BM_RingToHangup_" + service + "_" + name).c_str(), measure, floor, comes)
                    ->Iterations(iterations)
                    ->Repetitions(3)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            }
            benchmark::RunSpecifiedBenchmarks();
            ran = true;
        }
        // Our daemon, found by its path.
        if (const pid_t daemon = daemonprocess::running(g_storage + ".blacklist"); daemon > 0)
            ::kill(daemon, SIGTERM);
    }
    std::error_code failed;
    std::filesystem::remove_all(g_storage, failed);
    return ran;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    bool ran = true;
    for (const char *service : {"ModemManager", "oFono"}) {
        qputenv("CALLVANE_TELEPHONY", service == std::string("oFono") ? "ofono" : "");
        ran = runWith(service) && ran;
    }
    benchmark::Shutdown();
    return ran ? 0 : 1;
}

#include "bench_modem.moc"
