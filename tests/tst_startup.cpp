#include "app/zgui.h"
#include "ezx/zconfig.h"
#include "firewall/storage.h"
#include "firewall/textkeys.h"
#include "guitest.h"

#include <QDir>
#include <QPixmap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace guitest;

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init() { reset(); }

    void programDirectoryFromInvocationPath_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("argv0");
        QTest::addColumn<QString>("programDir");
        QTest::addColumn<QString>("copyDaemon");
        QTest::newRow("phone path") << QByteArray("/mmc/mmca1/app/prog") << "/mmc/mmca1/app/"
                                    << "cp /mmc/mmca1/app/blacklist %1.blacklist";
        QTest::newRow("no slash") << QByteArray("prog") << "" << "cp blacklist %1.blacklist";
        QTest::newRow("relative") << QByteArray("./callvane") << "./" << "cp ./blacklist %1.blacklist";
        // clang-format on
    }

    void programDirectoryFromInvocationPath()
    {
        QFETCH(QByteArray, argv0);
        QFETCH(QString, programDir);
        QFETCH(QString, copyDaemon);
        setInvocationPath(argv0);
        FakeShell shell;
        const auto gui = makeGui(shell);
        QCOMPARE(gui->getProgramDir(), programDir);
        // No settings file there: no language chosen.
        QCOMPARE(gui->languagePath(), programDir + "/languages/");
        QVERIFY(shell.commands.size() >= 3);
        QCOMPARE(QString::fromStdString(shell.commands[2]), copyDaemon.arg(storageDir()));
    }

    // The path is not checked: where no file is there, every text is empty.
    void languagePathFromSettings_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("stateRow");
        QTest::newRow("chosen") << QByteArray("[Callvane]\nLanguage = Test\n") << "Test"
                                << "MAIN_STATE|OPTIONS_DISABLED";
        QTest::newRow("none chosen: the directory") << QByteArray("[Callvane]\nFirewall = Blacklist\n") << ""
                                                    << "|";
        QTest::newRow("no such file") << QByteArray("[Callvane]\nLanguage = Klingon\n") << "Klingon" << "|";
        // clang-format on
    }

    void languagePathFromSettings()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, file);
        QFETCH(QString, stateRow);
        reset(settings);
        FakeShell shell;
        const auto gui = makeGui(shell);
        QCOMPARE(gui->languagePath(), programDir() + "/languages/" + file);
        QCOMPARE(rows(box(*gui, "statusBox")).value(0), stateRow);
    }

    // rm, rm, cp daemon, cp settings: first, on every start, whether or not a daemon runs.
    void deploysOnEveryStart_data()
    {
        QTest::addColumn<bool>("running");
        QTest::newRow("daemon stopped") << false;
        QTest::newRow("daemon running") << true;
    }

    void deploysOnEveryStart()
    {
        QFETCH(bool, running);
        const QString storage = storageDir();
        const std::vector<std::string> expected = {
            ("rm " + storage + "blacklist").toStdString(),
            ("rm " + storage + "Callvane.cfg").toStdString(),
            ("cp " + programDir() + "blacklist " + storage + ".blacklist").toStdString(),
            ("cp " + programDir() + "Callvane.cfg " + storage + ".Callvane.cfg").toStdString(),
        };
        for (int start = 0; start < 2; ++start) {
            FakeShell shell;
            shell.setDaemonRunning(running);
            const auto gui = makeGui(shell);
            QVERIFY(shell.commands.size() > expected.size());
            QVERIFY(std::equal(expected.begin(), expected.end(), shell.commands.begin()));
            // Then only the status tab's probe: the daemon is neither started nor stopped.
            QVERIFY((std::vector<std::string>(shell.commands.begin() + 4, shell.commands.end()) == probeCommands()));
            QCOMPARE(gui->daemonState(), QString(running ? "ON" : "OFF"));
        }
    }

    // What the build lays out: every text in every language, three distinct status labels
    // (the rows are told apart by them), and every icon.
    void shippedProgramDirectoryIsComplete()
    {
        const QDir languages(QStringLiteral(CALLVANE_PROGRAM_DIR "/languages"));
        QCOMPARE(languages.entryList(QDir::Files), (QStringList{"English", "French", "German", "Spanish"}));
        for (const QString &file : languages.entryList(QDir::Files)) {
            ZConfig language(languages.filePath(file), false);
            for (const char *key : firewall::text::kAllKeys)
                QVERIFY2(!language.readEntry(firewall::text::kGroup, key).isEmpty(), qPrintable(file + ": " + key));
            const QStringList labels{language.readEntry(firewall::text::kGroup, firewall::text::kMainState),
                                     language.readEntry(firewall::text::kGroup, firewall::text::kMainList),
                                     language.readEntry(firewall::text::kGroup, firewall::text::kMenuUnknown)};
            QCOMPARE(QSet<QString>(labels.begin(), labels.end()).size(), 3);
        }
        for (const char *icon : {"settings", "black", "white", "reg", "lang", "about", "exit", "add", "remove", "power",
                                 "list", "number"}) {
            const QPixmap pixmap(QStringLiteral(CALLVANE_PROGRAM_DIR "/images/%1.png").arg(icon));
            QCOMPARE(pixmap.size(), QSize(24, 24));
        }
    }

    void startsWithoutSettingsFileAndWritesNothing()
    {
        reset(QByteArray());
        FakeShell shell;
        const auto gui = makeGui(shell);
        QVERIFY(gui->isVisible());
        QCOMPARE(gui->windowTitle(), QString("Callvane"));
        QVERIFY(!QFile::exists(programDir() + "Callvane.cfg"));
    }
};

CALLVANE_GUI_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
