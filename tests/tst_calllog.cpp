#include "firewall/blockedcalllog.h"
#include "firewall/callerid.h"
#include "settingsstore/atomicfile.h"
#include "tests/testfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace calllog = firewall::calllog;
using Entries = std::vector<calllog::Entry>;

Q_DECLARE_METATYPE(Entries)

namespace {

std::string contents(const std::string &path)
{
    std::string text;
    return settingsstore::readFile(path, text) ? text : std::string("<missing>");
}

struct Log
{
    QTemporaryDir dir;
    std::string path = QFile::encodeName(dir.filePath(".blockedcalls")).toStdString();
    std::string lock = QFile::encodeName(dir.filePath(".blockedcalls.lock")).toStdString();
    bool write(const std::string &text) const { return settingsstore::writeFileAtomically(path, text); }
};

} // namespace

class TestCallLog : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Entries>("entries");
        QTest::newRow("empty") << QByteArray() << Entries{};
        QTest::newRow("only empty lines") << QByteArray("\n\n\n") << Entries{};
        QTest::newRow("blank lines between entries")
            << testfiles::fixture("blank_lines.log") << Entries{{"123", "A"}, {"456", "B"}};
        QTest::newRow("last number without detail")
            << testfiles::fixture("last_without_detail.log") << Entries{{"123", "A"}, {"456", ""}};
        QTest::newRow("empty detail is a detail") << QByteArray("123\n\n456\nB\n")
                                                  << Entries{{"123", ""}, {"456", "B"}};
        QTest::newRow("unknown in several forms, kept as read")
            << testfiles::fixture("unknown_forms.log")
            << Entries{{"+34 600 11 22 33", "2026-12-01 09:14:02"},
                       {"unknown", "2026-12-02 21:40:55"},
                       {"Unknown", "2026-12-03 10:00:00"},
                       {"unknown ", "2026-12-04 11:11:11"}};
        QTest::newRow("crlf") << QByteArray("123\r\nA\r\n\r\nunknown\r\nB\r\n")
                              << Entries{{"123", "A"}, {"unknown", "B"}};
        QTest::newRow("rewritten log with its closing empty line")
            << QByteArray("first\ndetail one\nthird\ndetail three\n\n")
            << Entries{{"first", "detail one"}, {"third", "detail three"}};
        // clang-format on
    }

    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(Entries, entries);
        QVERIFY(calllog::parse(text.toStdString()) == entries);
    }

    void formatIsTwoLinesAnEntryAndOneEmptyLine()
    {
        QCOMPARE(calllog::format({}), std::string("\n"));
        QCOMPARE(calllog::format({{"unknown", "d1"}, {"123", ""}}), std::string("unknown\nd1\n123\n\n\n"));
    }

    // What a caller's ID may hold, made the one line that the rule, the register and the notice
    // see: it reads as what it holds, within CallerId::kMaxLength bytes.
    void callerId_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("number");
        QTest::addColumn<QByteArray>("line");
        const QByteArray r = "\xEF\xBF\xBD"; // U+FFFD
        QTest::newRow("plain") << QByteArray("+34 600 11 22 33") << QByteArray("+34 600 11 22 33");
        QTest::newRow("letters and accents kept") << QByteArray("Jos\xC3\xA9") << QByteArray("Jos\xC3\xA9");
        QTest::newRow("line feed forges an entry") << QByteArray("600\n2026-01-01 00:00:00\n112")
                                                   << "600" + r + "2026-01-01 00:00:00" + r + "112";
        QTest::newRow("carriage return, tab, DEL") << QByteArray("1\r2\t3\x7f") << "1" + r + "2" + r + "3" + r;
        QTest::newRow("C1 control") << QByteArray("1\xC2\x85" "2") << "1" + r + "2";
        QTest::newRow("line separator U+2028") << QByteArray("1\xE2\x80\xA8" "2") << "1" + r + "2";
        QTest::newRow("right-to-left override U+202E") << QByteArray("\xE2\x80\xAE" "332211006") << r + "332211006";
        QTest::newRow("zero-width space, BOM") << QByteArray("6\xE2\x80\x8B" "0\xEF\xBB\xBF") << "6" + r + "0" + r;
        QTest::newRow("invalid UTF-8") << QByteArray("6\xFF" "0\xC3") << "6" + r + "0" + r;
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << r + r;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << r + r + r;
        QTest::newRow("withheld") << QByteArray() << QByteArray("unknown");
        QTest::newRow("withheld, as the socket says it") << QByteArray("unknown") << QByteArray("unknown");
        QTest::newRow("too long, cut between characters") << QByteArray(127, '6') + "\xE2\x82\xAC" + "1"
                                                           << QByteArray(127, '6');
        // clang-format on
    }

    void callerId()
    {
        QFETCH(QByteArray, number);
        QFETCH(QByteArray, line);
        const firewall::CallerId caller(number.toStdString());
        QCOMPARE(QByteArray::fromStdString(caller.logged()), line);
        QCOMPARE(caller.withheld(), line == "unknown");
    }

    void remove_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("written");
        const QByteArray three = testfiles::fixture("three_entries.log");
        QTest::newRow("second of three") << three << 1
                                         << testfiles::golden("three_entries_without_second.log")
                                         << true;
        QTest::newRow("the only entry") << QByteArray("123\nA\n") << 0 << QByteArray("\n") << true;
        QTest::newRow("unknown written back as unknown")
            << QByteArray("unknown\nd1\n123\nd2\n") << 1 << QByteArray("unknown\nd1\n\n") << true;
        QTest::newRow("shell characters byte for byte")
            << QByteArray("\"$(touch pwned)\"\n`id`; rm -rf x\n123\nd\n") << 1
            << QByteArray("\"$(touch pwned)\"\n`id`; rm -rf x\n\n") << true;
        QTest::newRow("crlf log rewritten with lf") << QByteArray("a\r\n1\r\n\r\nb\r\n2\r\nc\r\n3\r\n") << 1
                                                    << QByteArray("a\n1\nc\n3\n\n") << true;
        QTest::newRow("entry gone: nothing written") << QByteArray("123\nA\n") << 5 << QByteArray("123\nA\n")
                                                     << false;
        // clang-format on
    }

    void remove()
    {
        QFETCH(QByteArray, log);
        QFETCH(int, index);
        QFETCH(QByteArray, expected);
        QFETCH(bool, written);
        Log file;
        QVERIFY(file.write(log.toStdString()));
        const Entries before = calllog::parse(log.toStdString());
        const calllog::Entry target = size_t(index) < before.size() ? before[index] : calllog::Entry{"x", "y"};
        const auto result = calllog::remove(file.path, file.lock, size_t(index), target);
        QCOMPARE(result.written, written);
        QCOMPARE(QByteArray::fromStdString(contents(file.path)), expected);
        QVERIFY(result.entries == calllog::parse(expected.toStdString()));
    }

    void removeFindsAnEntryThatMoved()
    {
        Log file;
        QVERIFY(file.write("a\n1\nb\n2\nc\n3\n"));
        // Someone else deleted "a" since the window loaded the log: "c" is now at index 1.
        QVERIFY(file.write("b\n2\nc\n3\n"));
        const auto result = calllog::remove(file.path, file.lock, 2, {"c", "3"});
        QVERIFY(result.written);
        QCOMPARE(contents(file.path), std::string("b\n2\n\n"));
    }

    void appendAfterLoadSurvivesADelete()
    {
        Log file;
        QVERIFY(file.write("a\n1\nb\n2\n"));
        const Entries loaded = calllog::read(file.path);
        QVERIFY(calllog::append(file.path, file.lock, {"late", "3"}));
        const auto result = calllog::remove(file.path, file.lock, 0, loaded[0]);
        QVERIFY((result.entries == Entries{{"b", "2"}, {"late", "3"}}));
        QCOMPARE(contents(file.path), std::string("b\n2\nlate\n3\n\n"));
    }

    // Whatever state the log is left in, an append leaves every entry readable as written.
    void appendKeepsEntriesInStep_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<Entries>("entries");
        QTest::newRow("missing") << QByteArray() << Entries{{"789", "C"}};
        QTest::newRow("unended detail line") << QByteArray("123\nA") << Entries{{"123", "A"}, {"789", "C"}};
        QTest::newRow("number without detail") << QByteArray("123\nA\n456\n")
                                               << Entries{{"123", "A"}, {"456", ""}, {"789", "C"}};
        QTest::newRow("unended number") << QByteArray("123\nA\n456")
                                        << Entries{{"123", "A"}, {"456", ""}, {"789", "C"}};
        QTest::newRow("rewritten log") << QByteArray("123\nA\n\n") << Entries{{"123", "A"}, {"789", "C"}};
        QTest::newRow("crlf") << QByteArray("123\r\nA\r\n") << Entries{{"123", "A"}, {"789", "C"}};
        // clang-format on
    }

    void appendKeepsEntriesInStep()
    {
        QFETCH(QByteArray, log);
        QFETCH(Entries, entries);
        Log file;
        if (!log.isNull())
            QVERIFY(file.write(log.toStdString()));
        QVERIFY(calllog::append(file.path, file.lock, {"789", "C"}));
        QVERIFY(calllog::read(file.path) == entries);
    }

    // A frequent appender skips reading the log only while nobody else has touched it.
    void appendMarkNoticesOtherWriters_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::newRow("rewritten and renamed in place") << true;
        QTest::newRow("grown by another writer") << false;
    }

    void appendMarkNoticesOtherWriters()
    {
        QFETCH(bool, rename);
        Log file;
        calllog::AppendMark mark;
        QVERIFY(calllog::append(file.path, file.lock, {"123", "A"}, &mark));
        if (rename) {
            QVERIFY(file.write("123\nA\n456\n"));
        } else {
            QFile log(QString::fromStdString(file.path));
            QVERIFY(log.open(QIODevice::Append));
            QCOMPARE(log.write("456\n"), 4);
        }
        QVERIFY(calllog::append(file.path, file.lock, {"789", "C"}, &mark));
        QVERIFY((calllog::read(file.path) == Entries{{"123", "A"}, {"456", ""}, {"789", "C"}}));
    }

    // A write cut short (a full disk; here a file size limit) is taken back whole.
    void appendIsAllOrNothing_data()
    {
        QTest::addColumn<int>("room"); // bytes the log may still grow by
        QTest::newRow("room for half an entry") << 5;
        QTest::newRow("no room") << 0;
    }

    void appendIsAllOrNothing()
    {
        QFETCH(int, room);
        Log file;
        const std::string before = "123\nA\n";
        QVERIFY(file.write(before));
        calllog::AppendMark mark;
        const Entries entries{{"600112233", "2026-12-08 10:00:00"}, {"unknown", "2026-12-08 10:00:01"}};
        {
            const FileSizeLimit full(before.size() + static_cast<rlim_t>(room));
            QVERIFY(calllog::append(file.path, file.lock, entries, &mark, true) == calllog::AppendResult::Failed);
        }
        QCOMPARE(contents(file.path), before);
        QVERIFY(calllog::append(file.path, file.lock, entries, &mark, true) == calllog::AppendResult::Written);
        QVERIFY((calllog::read(file.path) == Entries{{"123", "A"}, entries[0], entries[1]}));
    }

    // Held by another process, the lock is not waited for, or only for a while by a delete
    // (the window's); the log and lock stay the owner's.
    void heldLockGivesWay()
    {
        Log file;
        QVERIFY(QFile(QString::fromStdString(file.lock)).open(QIODevice::WriteOnly));
        QVERIFY(::chmod(file.lock.c_str(), 0666) == 0); // as an older version made it
        const int holder = ::open(file.lock.c_str(), O_RDONLY);
        QVERIFY(::flock(holder, LOCK_SH) == 0);
        QVERIFY(calllog::append(file.path, file.lock, {{"1", "a"}}, nullptr, false) == calllog::AppendResult::Busy);
        QCOMPARE(contents(file.path), std::string("<missing>"));
        const auto remove = [&file] { return calllog::remove(file.path, file.lock, 0, {"1", "a"}).written; };
        auto removal = std::async(std::launch::async, remove);
        const bool gaveUp = removal.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        ::close(holder);
        QVERIFY(gaveUp);
        QVERIFY(!removal.get());
        QVERIFY(calllog::append(file.path, file.lock, {{"1", "a"}}, nullptr, false) == calllog::AppendResult::Written);
        for (const std::string &owned : {file.path, file.lock}) {
            struct stat st = {};
            QCOMPARE(::stat(owned.c_str(), &st), 0);
            QCOMPARE(st.st_mode & 0777, mode_t(0600));
        }
    }

    void unreadableLogsAreLeftAlone()
    {
        Log file;
        QVERIFY(
            !calllog::append(QFile::encodeName(QTemporaryDir().path()).toStdString() + "/x/y", file.lock, {"1", "2"}));
        QVERIFY(::mkfifo(file.path.c_str(), 0600) == 0 && calllog::read(file.path).empty());
        QVERIFY(::unlink(file.path.c_str()) == 0 && file.write("1\nA\n")
                && ::truncate(file.path.c_str(), settingsstore::kReadLimit + 1) == 0);
        QVERIFY(calllog::read(file.path).empty() && !calllog::append(file.path, file.lock, {"2", "B"}));
        QCOMPARE(QFileInfo(QFile::decodeName(file.path.c_str())).size(), settingsstore::kReadLimit + 1);
    }

    // Writers in other processes append while this one deletes: no call is lost. A writer
    // that finds the lock held past its patience tries again, as the daemon's queue does
    // (flock is not fair: under load one process may wait longer).
    void concurrentAppendsDuringDeletesLoseNothing()
    {
        Log file;
        constexpr int kWriters = 3;
        constexpr int kAppends = 150;
        std::vector<pid_t> writers;
        for (int w = 0; w < kWriters; ++w) {
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                for (int i = 0; i < kAppends; ++i) {
                    int tries = 0;
                    while (!calllog::append(file.path, file.lock,
                                            {"w" + std::to_string(w) + "-" + std::to_string(i), "kept"}))
                        if (++tries == 10)
                            ::_exit(1);
                }
                ::_exit(0);
            }
            writers.push_back(child);
        }
        // Delete every "victim" entry this process itself adds, while the others append.
        int deleted = 0;
        for (int i = 0; i < 150; ++i) {
            QVERIFY(calllog::append(file.path, file.lock, {"victim", std::to_string(i)}));
            const Entries now = calllog::read(file.path);
            for (size_t at = 0; at < now.size(); ++at) {
                if (now[at].number == "victim") {
                    deleted += calllog::remove(file.path, file.lock, at, now[at]).written ? 1 : 0;
                    break;
                }
            }
        }
        for (const pid_t child : writers) {
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        QCOMPARE(deleted, 150);
        const Entries left = calllog::read(file.path);
        QCOMPARE(int(left.size()), kWriters * kAppends);
        for (const auto &entry : left)
            QCOMPARE(entry.detail, std::string("kept"));
    }
};

QTEST_APPLESS_MAIN(TestCallLog)
#include "tst_calllog.moc"
