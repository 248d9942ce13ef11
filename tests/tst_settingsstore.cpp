#include "settingsstore/atomicfile.h"
#include "settingsstore/inidocument.h"
#include "settingsstore/numberlist.h"
#include "settingsstore/settingsstore.h"
#include "tests/testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using settingsstore::SettingsStore;

namespace {

std::string path(const QTemporaryDir &dir, const char *name)
{
    return QFile::encodeName(dir.filePath(QString::fromLatin1(name))).toStdString();
}

std::string fixture(const QString &name)
{
    return QFile::encodeName(testfiles::fixturePath(name)).toStdString();
}

std::string contents(const std::string &file)
{
    std::string text;
    return settingsstore::readFile(file, text) ? text : std::string("<unreadable>");
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void readsOddFiles_data()
    {
        // clang-format off
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("value");

        QTest::newRow("bom") << "bom.ini" << "Callvane" << "Language" << true << "English";
        QTest::newRow("crlf first key") << "crlf.ini" << "Callvane" << "Firewall" << true << "Blacklist";
        QTest::newRow("crlf last key") << "crlf.ini" << "Callvane" << "Language" << true << "German";
        QTest::newRow("no blanks around =") << "spaces_around_equals.ini" << "Callvane" << "Firewall" << true
                                            << "Whitelist";
        QTest::newRow("many blanks around =") << "spaces_around_equals.ini" << "Callvane" << "BlockUnknown"
                                              << true << "Yes";
        QTest::newRow("tabs around =") << "spaces_around_equals.ini" << "Callvane" << "Language" << true
                                       << "French";
        QTest::newRow("duplicate key: last wins") << "duplicate_key.ini" << "Callvane" << "Language" << true
                                                  << "English";
        QTest::newRow("duplicate group: last wins") << "duplicate_group.ini" << "Blacklist" << "Num" << true
                                                    << "333";
        QTest::newRow("duplicate group: other group") << "duplicate_group.ini" << "Whitelist" << "Num" << true
                                                      << "222";
        QTest::newRow("commented key is no key") << "comments.ini" << "Callvane" << "Language" << true
                                                 << "English";
        QTest::newRow("group names are case-sensitive") << "lower_case_group.ini" << "Callvane" << "Language"
                                                        << false << "";
        QTest::newRow("keys are case-sensitive") << "crlf.ini" << "Callvane" << "firewall" << false << "";
        QTest::newRow("empty value") << "empty_value.ini" << "Blacklist" << "Num" << true << "";
        QTest::newRow("stray line ignored") << "stray_line.ini" << "Callvane" << "Firewall" << true
                                            << "Blacklist";
        QTest::newRow("no final newline") << "no_final_newline.ini" << "Callvane" << "Firewall" << true
                                          << "Blacklist";
        QTest::newRow("key before any group") << "no_final_newline.ini" << "" << "Orphan" << true
                                              << "before any group";
        QTest::newRow("escapes") << "escapes.ini" << "Callvane" << "Language" << true << "a\\b c\n\\qd ";
        QTest::newRow("missing file") << "no_such_file.ini" << "Callvane" << "Language" << false << "";
        // clang-format on
    }

    void readsOddFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, group);
        QFETCH(QString, key);
        QFETCH(bool, present);
        QFETCH(QString, value);
        SettingsStore store(fixture(file));
        const auto read = store.value(group.toStdString(), key.toStdString());
        QCOMPARE(read.has_value(), present);
        if (present)
            QCOMPARE(QString::fromStdString(*read), value);
    }

    void writesKeepWhatTheyDoNotTouch()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "Callvane.cfg");
        QVERIFY(QFile::copy(QString::fromStdString(fixture("unknown_keys.ini")), QString::fromStdString(file)));
        SettingsStore store(file);
        QVERIFY(store.setValue("Callvane", "Firewall", "Blacklist"));
        QVERIFY(store.setValue("Whitelist", "Num", "112;600112233"));
        QVERIFY(store.setValue("Blacklist", "Num", "111"));
        QCOMPARE(QString::fromStdString(contents(file)), QString(testfiles::golden("unknown_keys_after_writes.ini")));
    }

    // One key is set; every other byte stays, through repeated saves.
    void savesKeepUntouchedBytes_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("crlf") << QByteArray::fromStdString(contents(fixture("crlf.ini")))
                              << QByteArray("[Callvane]\r\nFirewall = Whitelist\r\nLanguage = German\r\n");
        QTest::newRow("lf line ending in two carriage returns")
            << QByteArray("[Callvane]\nFirewall = Blacklist\nx\r\r\n# y\r\r\r\n")
            << QByteArray("[Callvane]\nFirewall = Whitelist\nx\r\r\n# y\r\r\r\n");
        QTest::newRow("bom") << QByteArray("\xEF\xBB\xBF[Callvane]\nFirewall = Blacklist\n")
                             << QByteArray("\xEF\xBB\xBF[Callvane]\nFirewall = Whitelist\n");
        QTest::newRow("doubled bom") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\n[Callvane]\nFirewall = Blacklist\n")
                                     << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\n[Callvane]\nFirewall = Whitelist\n");
        QTest::newRow("no final newline") << QByteArray("[Callvane]\nFirewall = Blacklist\n# end")
                                          << QByteArray("[Callvane]\nFirewall = Whitelist\n# end");
        QTest::newRow("new key after an unended last line")
            << QByteArray("[Callvane]\r\nLanguage = English")
            << QByteArray("[Callvane]\r\nLanguage = English\r\nFirewall = Whitelist\r\n");
        QTest::newRow("new key after a last line ended by a carriage return alone")
            << QByteArray("[Callvane]\r\nLanguage = English\r")
            << QByteArray("[Callvane]\r\nLanguage = English\r\nFirewall = Whitelist\r\n");
    }

    void savesKeepUntouchedBytes()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const std::string file = path(dir, "Callvane.cfg");
        QVERIFY(settingsstore::writeFileAtomically(file, before.toStdString()));
        for (int save = 0; save < 3; ++save) {
            QVERIFY(SettingsStore(file).setValue("Callvane", "Firewall", "Whitelist"));
            QCOMPARE(QByteArray::fromStdString(contents(file)), after);
        }
    }

    void valuesSurviveARoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "English";
        QTest::newRow("empty") << "";
        QTest::newRow("list") << "111;222;333";
        QTest::newRow("trailing separator") << "111;222;";
        QTest::newRow("leading blank") << "  600 11 22";
        QTest::newRow("trailing blank") << "600 11 22 ";
        QTest::newRow("only a blank") << " ";
        QTest::newRow("backslashes") << "C:\\phone\\\\s";
        QTest::newRow("newline") << "first\nsecond";
        QTest::newRow("carriage return and tab") << "a\rb\tc";
        QTest::newRow("looks like a group") << "[Blacklist]";
        QTest::newRow("looks like a comment") << "# not a comment";
        QTest::newRow("equals signs") << "a = b = c";
        QTest::newRow("non-ASCII") << QString::fromUtf8("Añadir número €");
    }

    void valuesSurviveARoundTrip()
    {
        QFETCH(QString, value);
        QTemporaryDir dir;
        const std::string file = path(dir, "Callvane.cfg");
        SettingsStore writer(file);
        QVERIFY(writer.setValue("Callvane", "Language", value.toStdString()));
        QVERIFY(writer.setValue("Callvane", "After", "intact"));
        SettingsStore reader(file);
        QCOMPARE(QString::fromStdString(reader.value("Callvane", "Language", "<missing>")), value);
        QCOMPARE(reader.value("Callvane", "After", "<missing>"), std::string("intact"));
    }

    void everyReaderSeesAWriteAtOnce()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "Callvane.cfg");
        SettingsStore openedBefore(file);
        QCOMPARE(openedBefore.value("Callvane", "Firewall", "<missing>"), std::string("<missing>"));

        SettingsStore writer(file);
        QVERIFY(writer.setValue("Callvane", "Firewall", "Blacklist"));
        // The writer is still open: the file on disk already holds the value.
        QCOMPARE(SettingsStore(file).value("Callvane", "Firewall", ""), std::string("Blacklist"));
        QCOMPARE(openedBefore.value("Callvane", "Firewall", ""), std::string("Blacklist"));
        QVERIFY(writer.setValue("Callvane", "Firewall", "Whitelist"));
        QCOMPARE(openedBefore.value("Callvane", "Firewall", ""), std::string("Whitelist"));
    }

    void twoOpenWritersKeepEachOthersValues()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "Callvane.cfg");
        SettingsStore first(file);
        SettingsStore second(file);
        QVERIFY(first.value("Callvane", "Language") == std::nullopt);
        QVERIFY(second.value("Callvane", "Language") == std::nullopt);
        QVERIFY(first.setValue("Callvane", "Language", "English"));
        QVERIFY(second.setValue("Callvane", "Firewall", "Blacklist"));
        SettingsStore reader(file);
        QCOMPARE(reader.value("Callvane", "Language", ""), std::string("English"));
        QCOMPARE(reader.value("Callvane", "Firewall", ""), std::string("Blacklist"));
    }

    void firstWriteCreatesTheFileWithUsualMode()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "Callvane.cfg");
        const mode_t mask = ::umask(022);
        QVERIFY(SettingsStore(file).setValue("Callvane", "BlockUnknown", "Yes"));
        ::umask(mask);
        QCOMPARE(contents(file), std::string("[Callvane]\nBlockUnknown = Yes\n"));
        struct stat st = {};
        QCOMPARE(::stat(file.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0644));
    }

    void writeKeepsTheFilesMode()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "Callvane.cfg");
        QVERIFY(SettingsStore(file).setValue("Callvane", "Language", "English"));
        QCOMPARE(::chmod(file.c_str(), 0600), 0);
        QVERIFY(SettingsStore(file).setValue("Callvane", "Language", "German"));
        struct stat st = {};
        QCOMPARE(::stat(file.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
    }

    void failedWriteLeavesNoTraceAndReadsTheDisk()
    {
        QTemporaryDir dir;
        // A directory where the file should be: the replace must fail.
        const std::string file = path(dir, "Callvane.cfg");
        QVERIFY(QDir().mkdir(QString::fromStdString(file)));
        SettingsStore store(file);
        QVERIFY(!store.setValue("Callvane", "Language", "English"));
        QVERIFY(store.value("Callvane", "Language") == std::nullopt);
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{QStringLiteral("Callvane.cfg")});

        QVERIFY(!SettingsStore(path(dir, "missing/dir/Callvane.cfg")).setValue("Callvane", "Language", "x"));
    }

    // A write cut short (a full disk; here a file size limit) shows the disk to the writer and
    // to every other store.
    void failedWriteShowsTheDiskToEveryStore_data()
    {
        QTest::addColumn<bool>("readerOpen");
        QTest::newRow("writer alone") << false;
        QTest::newRow("beside a reader") << true;
    }

    void failedWriteShowsTheDiskToEveryStore()
    {
        QFETCH(bool, readerOpen);
        QTemporaryDir dir;
        const std::string file = path(dir, "Callvane.cfg");
        const std::string before = "[Callvane]\nLanguage = English\n";
        QVERIFY(settingsstore::writeFileAtomically(file, before));
        std::optional<SettingsStore> reader;
        if (readerOpen) {
            reader.emplace(file);
            QCOMPARE(reader->value("Callvane", "Language", ""), std::string("English"));
        }
        SettingsStore writer(file);
        QCOMPARE(writer.value("Callvane", "Language", ""), std::string("English"));
        {
            const FileSizeLimit full(8);
            QVERIFY(!writer.setValue("Callvane", "Language", "German"));
        }
        QCOMPARE(contents(file), before);
        QCOMPARE(writer.value("Callvane", "Language", ""), std::string("English"));
        if (reader)
            QCOMPARE(reader->value("Callvane", "Language", ""), std::string("English"));

        QVERIFY(writer.setValue("Callvane", "Language", "German"));
        if (reader)
            QCOMPARE(reader->value("Callvane", "Language", ""), std::string("German"));
    }

    void hundredThousandNumbers()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "Callvane.cfg");
        std::vector<std::string> numbers;
        std::string value;
        for (int i = 0; i < 100000; ++i) {
            numbers.push_back("+346" + std::to_string(10000000 + i));
            value += numbers.back() + ";";
        }
        QVERIFY(value.size() > 1000000);
        QVERIFY(SettingsStore(file).setValue("Blacklist", "Num", value));
        QVERIFY(SettingsStore(file).setValue("Callvane", "Language", "English"));
        SettingsStore reader(file);
        const auto read = settingsstore::splitList(reader.value("Blacklist", "Num", ""));
        QCOMPARE(read.size(), numbers.size());
        QVERIFY(read == numbers);
    }

    // A writer killed at any moment leaves the old or the new file, never a part of one.
    void killedWriterNeverLeavesATruncatedFile()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "Callvane.cfg");
        const auto valueOf = [](int round) { return std::to_string(round) + ":" + std::string(300000, 'x'); };
        QVERIFY(SettingsStore(file).setValue("Blacklist", "Num", valueOf(0)));
        for (int attempt = 0; attempt < 12; ++attempt) {
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                SettingsStore writer(file);
                for (int round = 1;; ++round)
                    writer.setValue("Blacklist", "Num", valueOf(round));
            }
            ::usleep(2000 + QRandomGenerator::global()->bounded(20000));
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);

            const std::string value = SettingsStore(file).value("Blacklist", "Num", "<missing>");
            const auto colon = value.find(':');
            QVERIFY2(colon != std::string::npos, value.substr(0, 40).c_str());
            QCOMPARE(value, valueOf(std::stoi(value.substr(0, colon))));
        }
        // The next save clears the killed writers' copies, not those of a writer that runs.
        const QString running = QString::fromStdString(file) + ".tmp." + QString::number(::getppid()) + ".7";
        QVERIFY(QFile(running).open(QIODevice::WriteOnly));
        QVERIFY(SettingsStore(file).setValue("Callvane", "Language", "English"));
        QCOMPARE(QDir(dir.path()).entryList({"*.tmp.*"}, QDir::Files), QStringList{QFileInfo(running).fileName()});
    }

    void strayLinesTellADamagedFile_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("stray");
        QTest::newRow("settings") << QByteArray("[Callvane]\nFirewall = Blacklist\n") << 0;
        QTest::newRow("comments and blank lines") << QByteArray("# a\n; b\n \t\n\n[G]\n") << 0;
        QTest::newRow("a stray line") << QByteArray("[Callvane]\nFirewall\n") << 1;
        QTest::newRow("binary junk") << QByteArray("\x7f" "ELF\x02\x01\n\x00\x00\x03\n\xff\xfe\n", 14) << 3;
        // clang-format on
    }

    void strayLinesTellADamagedFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, stray);
        QCOMPARE(int(settingsstore::IniDocument::parse(text.toStdString()).strayLines()), stray);
    }

    // Sizes about the one page a read takes beyond the size the file gives, and a file that
    // gives none.
    void readFileTakesItAll_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("size");
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("one byte") << "" << 1;
        QTest::newRow("a page") << "" << 4096;
        QTest::newRow("a page and a byte") << "" << 4097;
        QTest::newRow("a large file") << "" << 1300001;
        QTest::newRow("no size given") << "/proc/self/cmdline" << -1;
    }

    void readFileTakesItAll()
    {
        QFETCH(QString, file);
        QFETCH(int, size);
        QTemporaryDir dir;
        QByteArray expected;
        if (file.isEmpty()) {
            file = dir.filePath("file");
            for (int i = 0; i < size; ++i)
                expected.append(char('a' + i % 26));
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(expected) == size);
        } else {
            QFile in(file);
            QVERIFY(in.open(QIODevice::ReadOnly));
            expected = in.readAll();
            QVERIFY(!expected.isEmpty());
        }
        std::string text = "left from before";
        QVERIFY(settingsstore::readFile(QFile::encodeName(file).toStdString(), text));
        QCOMPARE(QByteArray::fromStdString(text), expected);
    }

    void splitList_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("one") << "111" << QStringList{"111"};
        QTest::newRow("three in order") << "111;222;333" << QStringList{"111", "222", "333"};
        QTest::newRow("trailing separator") << "111;222;" << QStringList{"111", "222"};
        QTest::newRow("leading separator") << ";111" << QStringList{"111"};
        QTest::newRow("doubled separator") << "111;;222" << QStringList{"111", "222"};
        QTest::newRow("only separators") << ";;" << QStringList{};
        QTest::newRow("blanks kept") << " 111 ; 222" << QStringList{" 111 ", " 222"};
        QTest::newRow("duplicates kept") << "111;111" << QStringList{"111", "111"};
    }

    void splitList()
    {
        QFETCH(QString, value);
        QFETCH(QStringList, entries);
        QStringList split;
        for (const std::string &entry : settingsstore::splitList(value.toStdString()))
            split.append(QString::fromStdString(entry));
        QCOMPARE(split, entries);
    }

    // An edit of the stored value leaves it as a split, the change and a join would.
    void listEdits_data()
    {
        // clang-format off
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("added");  // or null: remove `index`
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("edited");
        QTest::newRow("add to empty") << "" << "5" << 0 << "5";
        QTest::newRow("add empty text") << "1;2" << "" << 0 << "1;2;";
        QTest::newRow("add drops empty fields") << ";1;;2;" << "5" << 0 << "1;2;5";
        QTest::newRow("add drops an empty field at the end") << "12345678;1;;2" << "5" << 0 << "12345678;1;2;5";
        QTest::newRow("remove first") << "1;2;3" << QString() << 0 << "2;3";
        QTest::newRow("remove last") << "1;2;3" << QString() << 2 << "1;2";
        QTest::newRow("remove counts entries, not fields") << ";1;;2;3" << QString() << 1 << "1;3";
        QTest::newRow("remove past the end") << "1;;2" << QString() << 5 << "1;2";
        QTest::newRow("remove past the end of a list without empty fields") << "1;2" << QString() << 2 << "1;2";
        // clang-format on
    }

    void listEdits()
    {
        QFETCH(QString, value);
        QFETCH(QString, added);
        QFETCH(int, index);
        QFETCH(QString, edited);
        const std::string stored = value.toStdString();
        const std::string result = added.isNull() ? settingsstore::listWithout(stored, size_t(index))
                                                  : settingsstore::listWithAdded(stored, added.toStdString());
        QCOMPARE(QString::fromStdString(result), edited);
    }
};

QTEST_APPLESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
