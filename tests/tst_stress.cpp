// Load and fault runs that take minutes: `make stress`, never part of `make test`. Each prints
// its figures; each fails on one corrupt file, one lost entry or one unanswered call.

#include "e2etest.h"
#include "firewall/blockedcalllog.h"
#include "firewall/daemonsocket.h"
#include "firewall/storage.h"
#include "settingsstore/atomicfile.h"
#include "settingsstore/settingsstore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace calllog = firewall::calllog;
using Clock = std::chrono::steady_clock;

namespace {

std::string storage()
{
    return firewall::Storage::fromEnvironment().dir();
}

// One call over the socket: the answer line, or "" when none came within `limit`.
std::string call(const std::string &number, std::chrono::milliseconds limit = std::chrono::milliseconds(1000))
{
    const auto giveUp = Clock::now() + limit;
    const int fd = firewall::daemonsocket::connectTo(firewall::Storage::fromEnvironment().daemonSocket());
    if (fd < 0)
        return {};
    const std::string line = number + "\n";
    std::string answer;
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
        pollfd poller{fd, POLLIN, 0};
        char buffer[64];
        ssize_t n = 0;
        while (answer.find('\n') == std::string::npos && Clock::now() < giveUp
               && ::poll(&poller, 1,
                         int(std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - Clock::now()).count()))
                   > 0
               && (n = ::read(fd, buffer, sizeof buffer)) > 0)
            answer.append(buffer, size_t(n));
    }
    ::close(fd);
    return answer.find('\n') == std::string::npos ? std::string() : answer.substr(0, answer.find('\n'));
}

// White-list mode with an empty list: every call is blocked and logged.
bool startBlockingEverything()
{
    QFile::remove(QString::fromStdString(storage() + ".blacklist"));
    if (!QFile::copy(CALLVANE_PROGRAM_DIR "/blacklist", QString::fromStdString(storage() + ".blacklist")))
        return false;
    if (!settingsstore::writeFileAtomically(storage() + ".Callvane.cfg", "[Callvane]\nFirewall = Whitelist\n"))
        return false;
    return std::system((storage() + ".blacklist").c_str()) == 0 && e2etest::daemonListens();
}

// Rings `numbers` from `threads` threads; the count of calls not answered "block".
int ringAll(const std::vector<std::string> &numbers, int threads)
{
    std::atomic<size_t> next{0};
    std::atomic<int> unanswered{0};
    std::vector<std::thread> ringers;
    for (int t = 0; t < threads; ++t) {
        ringers.emplace_back([&] {
            for (size_t i = next++; i < numbers.size(); i = next++)
                unanswered += call(numbers[i]) == "block" ? 0 : 1;
        });
    }
    for (auto &ringer : ringers)
        ringer.join();
    return unanswered;
}

// The log holds exactly `expected`, each once, and reads back as written.
void checkLog(const std::set<std::string> &expected)
{
    std::string text;
    settingsstore::readFile(firewall::Storage::fromEnvironment().blockedCalls(), text);
    const auto entries = calllog::parse(text);
    std::set<std::string> found;
    int duplicates = 0;
    for (const auto &entry : entries)
        duplicates += found.insert(entry.number).second ? 0 : 1;
    std::vector<std::string> lost;
    std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(), std::back_inserter(lost));
    qInfo("log: %zu entries, %zu lost, %d duplicated", entries.size(), lost.size(), duplicates);
    QCOMPARE(lost.size(), size_t(0));
    QCOMPARE(duplicates, 0);
    QCOMPARE(found, expected);
}

int staleTemporaries(const QString &dir)
{
    return QDir(dir).entryList({"*.tmp.*"}, QDir::Files | QDir::Hidden).size();
}

} // namespace

class TestStress : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        if (!e2etest::inPrivatePidNamespace())
            QSKIP("runs only as PID 1 of a private PID namespace (tests/in-pid-namespace)");
        qputenv(firewall::Storage::kDirVariable, QFile::encodeName(m_dir.path() + "/"));
    }

    void cleanup() { e2etest::stopDaemons(); }

    // 1,000 writers killed at random moments of a settings save or a register rewrite.
    void killsMidSaveAndRewrite()
    {
        const std::string settings = storage() + "Callvane.cfg";
        const auto listOf = [](int round) { return std::to_string(round) + ":" + std::string(200000, '6'); };
        QVERIFY(settingsstore::SettingsStore(settings).setValue("Blacklist", "Num", listOf(0)));
        std::vector<calllog::Entry> start;
        for (int i = 0; i < 20000; ++i)
            start.push_back({"n" + std::to_string(i), "d" + std::to_string(i)});
        QVERIFY(settingsstore::writeFileAtomically(firewall::Storage::fromEnvironment().blockedCalls(),
                                                   calllog::format(start)));

        int corrupt = 0;
        int leftBehind = 0;
        for (int kill = 0; kill < 1000; ++kill) {
            const bool save = kill % 2 == 0;
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                settingsstore::SettingsStore writer(settings);
                for (int round = 1;; ++round) {
                    if (save)
                        writer.setValue("Blacklist", "Num", listOf(round));
                    else
                        calllog::remove(firewall::Storage::fromEnvironment().blockedCalls(),
                                        firewall::Storage::fromEnvironment().blockedCallsLock(), 0,
                                        calllog::read(firewall::Storage::fromEnvironment().blockedCalls()).front());
                }
            }
            ::usleep(QRandomGenerator::global()->bounded(15000));
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            leftBehind += staleTemporaries(m_dir.path()) > 0 ? 1 : 0;

            const std::string value = settingsstore::SettingsStore(settings).value("Blacklist", "Num", "");
            const auto colon = value.find(':');
            corrupt += colon != std::string::npos && value == listOf(std::stoi(value.substr(0, colon))) ? 0 : 1;
            std::string log;
            settingsstore::readFile(firewall::Storage::fromEnvironment().blockedCalls(), log);
            const auto entries = calllog::parse(log);
            bool whole = log == calllog::format(entries) && !entries.empty();
            for (const auto &entry : entries)
                whole = whole && entry.number.size() > 1 && entry.detail == "d" + entry.number.substr(1);
            corrupt += whole ? 0 : 1;
        }
        QVERIFY(settingsstore::SettingsStore(settings).setValue("Callvane", "Language", "English"));
        const auto entries = calllog::read(firewall::Storage::fromEnvironment().blockedCalls());
        QVERIFY(calllog::remove(firewall::Storage::fromEnvironment().blockedCalls(),
                                firewall::Storage::fromEnvironment().blockedCallsLock(), 0, entries.front())
                    .written);
        const int stale = staleTemporaries(m_dir.path());
        qInfo("1000 kills: %d corrupt files, %d kills left a temporary file, %d left after the next saves", corrupt,
              leftBehind, stale);
        QCOMPARE(corrupt, 0);
        QCOMPARE(stale, 0);
    }

    // 10,000 calls from 8 callers while the register loses 1,000 entries to deletes.
    void concurrentCallsAndDeletes()
    {
        QFile::remove(QString::fromStdString(firewall::Storage::fromEnvironment().blockedCalls()));
        QVERIFY(startBlockingEverything());
        std::vector<std::string> numbers;
        for (int i = 0; i < 10000; ++i)
            numbers.push_back("6" + std::to_string(10000000 + i));
        std::atomic<bool> ringing{true};
        std::set<std::string> deleted;
        std::thread deleter([&] {
            // The daemon may hold entries back for a moment (the log lock was busy): an empty
            // log after the last call is no end yet.
            QDeadlineTimer giveUp(QDeadlineTimer::Forever);
            while (deleted.size() < 1000) {
                const auto entries = calllog::read(firewall::Storage::fromEnvironment().blockedCalls());
                if (!ringing && giveUp.isForever())
                    giveUp.setRemainingTime(5000);
                if (entries.empty() && giveUp.hasExpired())
                    break;
                if (entries.empty())
                    continue;
                const size_t at = QRandomGenerator::global()->bounded(quint32(entries.size()));
                if (calllog::remove(firewall::Storage::fromEnvironment().blockedCalls(),
                                    firewall::Storage::fromEnvironment().blockedCallsLock(), at, entries[at])
                        .written)
                    deleted.insert(entries[at].number);
            }
        });
        const int unanswered = ringAll(numbers, 8);
        ringing = false;
        deleter.join();
        qInfo("10000 calls: %d unanswered, %zu deletes", unanswered, deleted.size());
        QCOMPARE(unanswered, 0);
        QCOMPARE(deleted.size(), size_t(1000));
        std::set<std::string> expected(numbers.begin(), numbers.end());
        for (const auto &gone : deleted)
            expected.erase(gone);
        QTRY_COMPARE(calllog::read(firewall::Storage::fromEnvironment().blockedCalls()).size(), expected.size());
        checkLog(expected);
    }

    // 300 idle clients, re-opened as the daemon closes them, while real calls come in.
    void idleConnectionFlood()
    {
        QVERIFY(startBlockingEverything());
        std::atomic<bool> flooding{true};
        std::atomic<long> opened{0};
        std::thread flood([&] {
            std::vector<int> idle;
            while (flooding) {
                while (idle.size() < 300) {
                    idle.push_back(
                        firewall::daemonsocket::connectTo(firewall::Storage::fromEnvironment().daemonSocket()));
                    ++opened;
                }
                std::vector<pollfd> fds;
                for (const int fd : idle)
                    fds.push_back({fd, POLLIN, 0});
                ::poll(fds.data(), fds.size(), 20);
                for (size_t i = 0; i < fds.size(); ++i) {
                    if (fds[i].fd < 0 || fds[i].revents != 0) {
                        ::close(fds[i].fd);
                        idle[i] = -1;
                    }
                }
                idle.erase(std::remove(idle.begin(), idle.end(), -1), idle.end());
            }
            for (const int fd : idle)
                ::close(fd);
        });
        int unanswered = 0;
        for (int i = 0; i < 200; ++i) {
            unanswered += call("7" + std::to_string(i)) == "block" ? 0 : 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        flooding = false;
        flood.join();
        qInfo("idle flood (%ld idle connections opened): %d of 200 calls unanswered within 1 s", long(opened),
              unanswered);
        QCOMPARE(unanswered, 0);
    }

    // The disk fills and empties again and again while calls come in.
    void fullDiskUnderLoad()
    {
        const e2etest::SmallDisk disk(m_dir.filePath("small"), 1024 * 1024);
        if (!disk.mounted())
            QSKIP("cannot mount a small tmpfs here (needs a mount namespace of our own)");
        QVERIFY(startBlockingEverything());

        std::atomic<bool> ringing{true};
        std::atomic<int> fills{0};
        std::thread filler([&] {
            while (ringing) {
                disk.fill("filler", 1000); // not whole pages: the log's last page fills too
                ++fills;
                std::this_thread::sleep_for(std::chrono::milliseconds(QRandomGenerator::global()->bounded(5)));
                QFile::remove(QString::fromStdString(storage() + "filler"));
                std::this_thread::sleep_for(std::chrono::milliseconds(QRandomGenerator::global()->bounded(3)));
            }
        });
        std::vector<std::string> numbers;
        for (int i = 0; i < 10000; ++i)
            numbers.push_back("8" + std::to_string(1000000 + i));
        const int unanswered = ringAll(numbers, 4);
        ringing = false;
        filler.join();
        qInfo("full disk, %d fills: %d of 10000 calls unanswered", int(fills), unanswered);
        QCOMPARE(unanswered, 0);
        QTRY_COMPARE_WITH_TIMEOUT(calllog::read(firewall::Storage::fromEnvironment().blockedCalls()).size(),
                                  numbers.size(), 10000);
        checkLog(std::set<std::string>(numbers.begin(), numbers.end()));
    }
};

int main(int argc, char **argv)
{
    e2etest::runUnderInit();
    QCoreApplication application(argc, argv);
    TestStress test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_stress.moc"
