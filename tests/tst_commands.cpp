#include "control/commands.h"
#include "control/shell.h"
#include "firewall/storage.h"
#include "settingsstore/atomicfile.h"
#include "settingsstore/numberlist.h"
#include "tests/testfiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using control::Commands;

namespace {

std::string listing(const Commands &c)
{
    std::string out;
    const auto add = [&out](const char *label, const std::vector<std::string> &commands) {
        for (const std::string &command : commands)
            out += std::string(label) + ": " + command + "\n";
    };
    add("startup", c.startup());
    add("switch on", c.switchOn());
    add("switch off", c.switchOff());
    add("restart", c.restart());
    add("probe", c.probe());
    add("probe done", {c.removeProbeFile()});
    add("languages", {c.listLanguages()});
    add("languages done", {c.removeLanguageList()});
    return out;
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void textsAreByteExact_data()
    {
        // clang-format off
        QTest::addColumn<QString>("programDir");
        QTest::addColumn<QString>("golden");
        QTest::newRow("phone path") << "/mmc/mmca1/app/" << "commands_phone.txt";
        QTest::newRow("no directory in argv[0]") << "" << "commands_no_directory.txt";
        // clang-format on
    }

    void textsAreByteExact()
    {
        QFETCH(QString, programDir);
        QFETCH(QString, golden);
        const std::string expected = testfiles::golden(golden).toStdString();
        const Commands commands(programDir.toStdString(), firewall::Storage::kDefaultDir, 100000); // the phone's owner
        QCOMPARE(QString::fromStdString(listing(commands)), QString::fromStdString(expected));
        QCOMPARE(commands.daemonMark(), std::string("/ezxlocal/download/mystuff/.blacklist"));
        QCOMPARE(commands.probeFile(), programDir.toStdString() + "/state");
    }

    void storageDirectory_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<bool>("set");
        QTest::addColumn<QString>("dir");
        QTest::newRow("unset") << QByteArray() << false << "/ezxlocal/download/mystuff/";
        QTest::newRow("empty") << QByteArray("") << true << "/ezxlocal/download/mystuff/";
        QTest::newRow("without slash") << QByteArray("/tmp/store") << true << "/tmp/store/";
        QTest::newRow("with slash") << QByteArray("/tmp/store/") << true << "/tmp/store/";
        QTest::newRow("relative") << QByteArray("rel/store") << true << QDir::currentPath() + "/rel/store/";
    }

    void storageDirectory()
    {
        QFETCH(QByteArray, variable);
        QFETCH(bool, set);
        QFETCH(QString, dir);
        const QByteArray saved = qgetenv(firewall::Storage::kDirVariable);
        if (set)
            qputenv(firewall::Storage::kDirVariable, variable);
        else
            qunsetenv(firewall::Storage::kDirVariable);
        QCOMPARE(QString::fromStdString(firewall::Storage::fromEnvironment().dir()), dir);
        QCOMPARE(QString::fromStdString(firewall::Storage::fromEnvironment().daemon()), dir + ".blacklist");
        QCOMPARE(QString::fromStdString(firewall::Storage::fromEnvironment().blockedCalls()), dir + ".blockedcalls");
        // Resolved once, it names the same directory from anywhere (the daemon changes to "/").
        firewall::Storage::fromEnvironment();
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent("/"));
        QCOMPARE(QString::fromStdString(firewall::Storage::fromEnvironment().dir()), dir);
        QVERIFY(QDir::setCurrent(cwd));
        qputenv(firewall::Storage::kDirVariable, saved);
    }

    void quoting_data()
    {
        // clang-format off
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("ordinary path") << "/mmc/mmca1/app-2/x_y.z@%+=:," << "/mmc/mmca1/app-2/x_y.z@%+=:,";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("space") << "/a b/" << "'/a b/'";
        QTest::newRow("single quote") << "/it's/" << "'/it'\\''s/'";
        QTest::newRow("semicolon") << "/a;b/" << "'/a;b/'";
        QTest::newRow("command substitution") << "/$(id)/" << "'/$(id)/'";
        // clang-format on
    }

    void quoting()
    {
        QFETCH(QString, word);
        QFETCH(QString, quoted);
        QCOMPARE(QString::fromStdString(control::shellQuote(word.toStdString())), quoted);
    }

    // Hostile directory names must reach the right files and run nothing of their own.
    void hostileDirectoriesRunNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("space") << "my app";
        QTest::newRow("double quote") << "say \"hi\"";
        QTest::newRow("single quote") << "it's";
        QTest::newRow("semicolon") << "a; touch pwned;";
        QTest::newRow("command substitution") << "$(touch pwned)";
        QTest::newRow("backquotes") << "`touch pwned`";
        QTest::newRow("non-ASCII") << QString::fromUtf8("aplicación");
        QTest::newRow("newline") << "two\nlines; touch pwned";
    }

    void hostileDirectoriesRunNothing()
    {
        QFETCH(QString, name);
        QTemporaryDir top;
        const QString program = top.filePath(name + "/prog") + "/";
        const QString storage = top.filePath(name + "/store") + "/";
        QVERIFY(QDir().mkpath(program + "languages") && QDir().mkpath(storage));
        testfiles::writeFile(program + "blacklist", "daemon");
        testfiles::writeFile(program + "Callvane.cfg", "[Callvane]\n");
        testfiles::writeFile(program + "languages/English", "[CALLVANE]\n");
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(top.path()));

        const Commands commands(QFile::encodeName(program).toStdString(), QFile::encodeName(storage).toStdString());
        control::SystemShell shell;
        shell.run(commands.startup());
        shell.run(commands.probe());
        const bool probeFileMade = QFile::exists(QFile::decodeName(commands.probeFile().c_str()));
        shell.run(commands.removeProbeFile());
        shell.run(commands.listLanguages());
        const QByteArray languages = testfiles::readFile(QFile::decodeName(commands.languageListFile().c_str()));
        shell.run(commands.removeLanguageList());
        QDir::setCurrent(saved);

        QCOMPARE(testfiles::readFile(storage + ".blacklist"), QByteArray("daemon"));
        QCOMPARE(testfiles::readFile(storage + ".Callvane.cfg"), QByteArray("[Callvane]\n"));
        QVERIFY(probeFileMade);
        QVERIFY(!QFile::exists(program + "/state"));
        QCOMPARE(languages, QByteArray("English\n"));
        QVERIFY(!QFile::exists(program + "/ltemp"));
        QVERIFY(!QFile::exists(top.filePath("pwned")));
        QVERIFY(!QFile::exists(top.filePath(name + "/pwned")));
    }

    // What a command says on stderr reaches the window's stderr, unless it is the noise of a
    // healthy set-up; also where it is one of a sequence (one command a line).
    void onlyRealFailuresAreSaid_data()
    {
        // clang-format off
        QTest::addColumn<QString>("command"); // %1: an empty directory
        QTest::addColumn<QString>("said");
        QTest::newRow("rm of a missing file") << "rm %1blacklist" << "";
        QTest::newRow("rm of a directory") << "mkdir %1d && rm %1d" << "rm: cannot remove";
        QTest::newRow("cp of a missing file") << "cp %1blacklist %1.blacklist" << "cp: cannot stat";
        QTest::newRow("rm of a missing file among others") << "rm %1a; ls %1b" << "ls: cannot access";
        QTest::newRow("a program that is not there") << "callvane-no-such-program %1" << "sh: 1: callvane-no-such-program: ";
        QTest::newRow("a sequence: a failure, then rm of a missing file") << "ls %1b\nrm %1a" << "ls: cannot access";
        QTest::newRow("a sequence of rm of missing files") << "rm %1a\nrm %1b" << "";
        // clang-format on
    }

    void onlyRealFailuresAreSaid()
    {
        QFETCH(QString, command);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString written = QString::fromLocal8Bit(testfiles::saidOnStderr([&] {
            control::SystemShell().run(
                settingsstore::splitList(QFile::encodeName(command.arg(dir.path() + "/")).toStdString(), '\n'));
        }));
        if (said.isEmpty())
            QCOMPARE(written, QString());
        else
            QVERIFY2(written.startsWith(said) && written.count('\n') == 1, qPrintable(written));
    }
};

QTEST_APPLESS_MAIN(TestCommands)
#include "tst_commands.moc"
