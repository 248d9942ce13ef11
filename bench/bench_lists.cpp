// Loading, adding and removing numbers through the window's own slots (dialog answered at
// once, firewall off so no daemon restart), against a list of N numbers. An edit is timed
// beside its peer, in turns: the floor of any write-through settings store, one atomic,
// synced replace of a file that size.

#include "app/zgui.h"
#include "ezx/zapplication.h"
#include "ezx/zlineedit.h"
#include "ezx/zlistbox.h"
#include "ezx/znavtabwidget.h"
#include "ezx/zsinglecapturedlg.h"
#include "firewall/storage.h"
#include "settingsstore/atomicfile.h"
#include "settingsstore/numberlist.h"
#include "tests/recordingshell.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include <benchmark/benchmark.h>

namespace {

QTemporaryDir *g_dir = nullptr;

QString programDir()
{
    return g_dir->path() + "/prog/";
}

std::string settingsPath()
{
    return QFile::encodeName(programDir() + "Callvane.cfg").toStdString();
}

std::string settingsWith(int64_t numbers)
{
    std::string list;
    for (int64_t i = 0; i < numbers; ++i)
        list += (i > 0 ? ";+346" : "+346") + std::to_string(10000000 + i);
    return "[Callvane]\nFirewall = Blacklist\n\n[Blacklist]\nNum = " + list + "\n";
}

struct Window
{
    explicit Window(int64_t numbers)
        : text(settingsWith(numbers))
    {
        settingsstore::writeFileAtomically(settingsPath(), text);
        gui = std::make_unique<ZGui>(QString(), nullptr, nullptr, 0, &shell);
    }
    // The file and the box as they were before the edit.
    void restore() const
    {
        settingsstore::writeFileAtomically(settingsPath(), text);
        gui->findChild<ZListBox *>("blacklistBox")->clear();
        gui->CargarBlacklist();
        // The reload's own deferred work (the view's layout) is not the next edit's.
        QApplication::processEvents();
    }

    std::string text;
    RecordingShell shell; // the probe finds nothing: state null, no restart
    std::unique_ptr<ZGui> gui;
};

ZListBox *blacklistBox(ZGui &gui)
{
    return gui.findChild<ZListBox *>("blacklistBox");
}

void BM_Load(benchmark::State &state)
{
    Window window(state.range(0));
    ZListBox *box = blacklistBox(*window.gui);
    for (auto _ : state) {
        while (box->count() != 0)
            box->removeItem(0);
        window.gui->CargarBlacklist();
    }
    state.SetLabel(std::to_string(box->count()) + " rows");
}

enum Edit : int64_t { Add, Remove };

// Runs the window's slot for `edit` (an add answers its dialog with one number at once).
void runEdit(Window &window, int64_t edit)
{
    if (edit == Add) {
        QTimer::singleShot(0, [&window] {
            auto *dialog = window.gui->findChild<ZSingleCaptureDlg *>(); // over the window, not one of its own
            dialog->getLineEdit()->setText("+34911234567");
            dialog->accept();
        });
        window.gui->addNumber1();
    } else {
        ZListBox *box = blacklistBox(*window.gui);
        box->setCurrentRow(box->count() / 2);
        window.gui->removeNumber1();
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void BM_EditBesidePeer(benchmark::State &state)
{
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::time_point since) {
        return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
    };
    Window window(state.range(0));
    const std::string peerPath = settingsPath() + ".peer";
    std::vector<double> edits;
    std::vector<double> peers;
    std::vector<double> ratios;
    for (auto _ : state) {
        const auto begin = Clock::now();
        runEdit(window, state.range(1));
        edits.push_back(ms(begin));
        state.PauseTiming();
        window.restore();
        const auto peerBegin = Clock::now();
        settingsstore::writeFileAtomically(peerPath, window.text);
        peers.push_back(ms(peerBegin));
        ratios.push_back(edits.back() / peers.back());
        state.ResumeTiming();
    }
    state.counters["edit_ms"] = median(edits);
    state.counters["peer_ms"] = median(peers);
    state.counters["ratio"] = median(ratios);
}

long residentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Memory stays flat over long use: 10,000 tab switches (each rebuilds the soft key's menu)
// and 1,000 add and remove cycles, at 1,000 numbers. The counter is the growth in per cent
// of the resident memory after a first round that warms every cache.
void BM_MemoryFlat(benchmark::State &state)
{
    Window window(1000);
    auto *tabs = window.gui->findChild<ZNavTabWidget *>();
    ZListBox *box = blacklistBox(*window.gui);
    const auto round = [&](int switches, int cycles) {
        // As from the event loop: what each switch posts is handled, and the menu it replaces
        // is deleted.
        for (int i = 0; i < switches; ++i) {
            tabs->setCurrentIndex(i % 4);
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        for (int i = 0; i < cycles; ++i) {
            QTimer::singleShot(0, [] {
                auto *dialog = qobject_cast<ZSingleCaptureDlg *>(QApplication::activeModalWidget());
                dialog->getLineEdit()->setText("+34911234567");
                dialog->accept();
            });
            window.gui->addNumber1();
            box->setCurrentRow(box->count() - 1);
            window.gui->removeNumber1();
            QCoreApplication::processEvents();
        }
    };
    round(1000, 100);
    const long before = residentKiB();
    for (auto _ : state)
        round(10000, 1000);
    const long after = residentKiB();
    state.counters["rss_before_KiB"] = double(before);
    state.counters["growth_percent"] = 100.0 * double(after - before) / double(before);
}

const std::vector<int64_t> kSizes{10, 1000, 10000, 100000};

} // namespace

BENCHMARK(BM_Load)->ArgsProduct({kSizes})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditBesidePeer)
    ->ArgNames({"numbers", "remove"})
    ->ArgsProduct({kSizes, {Add, Remove}})
    ->Iterations(51)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryFlat)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    g_dir = &dir;
    QDir().mkpath(programDir());
    QDir().mkpath(dir.path() + "/storage");
    qputenv(firewall::Storage::kDirVariable, QFile::encodeName(dir.path() + "/storage/"));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QByteArray argv0 = QFile::encodeName(programDir() + "callvane");
    char *args[] = {argv0.data(), nullptr};
    int count = 1;
    ZApplication application(count, args);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
