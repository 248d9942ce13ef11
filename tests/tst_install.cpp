#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// An install into a temporary prefix, and the launcher a user starts from PATH.
class TestInstall : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_prefix;

    QProcessEnvironment userEnvironment(const QString &home, const QStringList &extra) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_DATA_HOME", "XDG_STATE_HOME", "CALLVANE_STORAGE"})
            env.remove(name);
        env.insert("HOME", home);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        for (const QString &setting : extra)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1).replace("$HOME", home));
        return env;
    }

private slots:
    void initTestCase()
    {
        m_prefix = m_dir.filePath("usr");
        // An icon theme's cache from before: the install refreshes it.
        const QString icons = m_prefix + "/share/icons/hicolor";
        QVERIFY(QDir().mkpath(icons + "/scalable/apps"));
        testfiles::writeFile(icons + "/scalable/apps/other.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
        QCOMPARE(QProcess::execute("gtk-update-icon-cache", {"--quiet", "--ignore-theme-index", icons}), 0);
        QProcess install;
        install.start("cmake", {"--install", CALLVANE_BINARY_DIR, "--prefix", m_prefix});
        QVERIFY(install.waitForFinished(60000));
        QCOMPARE(install.exitCode(), 0);
        QVERIFY(testfiles::readFile(icons + "/icon-theme.cache").contains("callvane"));
    }

    void optionsPrepareNothing_data()
    {
        // clang-format off
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("said");
        QTest::newRow("--help") << "--help" << "Usage: callvane ";
        QTest::newRow("--version") << "--version" << "callvane ";
        // clang-format on
    }

    void optionsPrepareNothing()
    {
        QFETCH(QString, option);
        QFETCH(QString, said);
        const QString home = m_dir.filePath("home-" + option);
        QVERIFY(QDir().mkpath(home));
        QProcess launcher;
        launcher.setProcessEnvironment(userEnvironment(home, {}));
        launcher.start(m_prefix + "/bin/callvane", {option});
        QVERIFY(launcher.waitForFinished(10000));
        QCOMPARE(launcher.exitCode(), 0);
        QVERIFY(QString::fromLocal8Bit(launcher.readAllStandardOutput()).startsWith(said));
        QCOMPARE(QDir(home).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    // The window takes only its invocation path, and runs no command before the toolkit is
    // up: where it cannot start (no display), nothing has been deployed.
    void windowRunsNothingBeforeTheToolkit_data()
    {
        QTest::addColumn<QString>("option");
        QTest::newRow("--version") << "--version";
        QTest::newRow("-V") << "-V";
    }

    void windowRunsNothingBeforeTheToolkit()
    {
        QFETCH(QString, option);
        const QString storage = m_dir.filePath("no-display" + option) + "/";
        QVERIFY(QDir().mkpath(storage));
        QProcessEnvironment env = userEnvironment(m_dir.path(), {"CALLVANE_STORAGE=" + storage});
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        QProcess window;
        window.setProcessEnvironment(env);
        window.start(m_prefix + "/libexec/callvane/callvane", {option});
        QVERIFY(window.waitForFinished(10000));
        QVERIFY(window.exitStatus() != QProcess::NormalExit || window.exitCode() != 0);
        QCOMPARE(QDir(storage).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    // The window starts from the user's program directory and deploys into the user's
    // storage; a second start keeps the user's settings.
    void launcherPreparesTheUsersDirectories_data()
    {
        // clang-format off
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("program"); // relative to $HOME
        QTest::addColumn<QString>("storage");
        QTest::newRow("defaults") << QStringList() << ".local/share/callvane/" << ".local/state/callvane/";
        QTest::newRow("XDG directories") << QStringList{"XDG_DATA_HOME=$HOME/data", "XDG_STATE_HOME=$HOME/state"}
                                         << "data/callvane/" << "state/callvane/";
        QTest::newRow("storage chosen") << QStringList{"CALLVANE_STORAGE=$HOME/mine/"} << ".local/share/callvane/"
                                        << "mine/";
        // clang-format on
    }

    void launcherPreparesTheUsersDirectories()
    {
        QFETCH(QStringList, environment);
        QFETCH(QString, program);
        QFETCH(QString, storage);
        const QString home = m_dir.filePath(QTest::currentDataTag()) + "/";
        QVERIFY(QDir().mkpath(home));
        const auto start = [&] {
            QFile::remove(home + storage + ".Callvane.cfg");
            QProcess window;
            window.setProcessEnvironment(userEnvironment(home, environment));
            window.start(m_prefix + "/bin/callvane", {});
            // Deployed at the window's start, from the program directory's settings.
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home + storage + ".Callvane.cfg"), 10000);
            // What the daemon it starts watches, to stop when the package is removed.
            QFile environ(QString("/proc/%1/environ").arg(window.processId()));
            QVERIFY(environ.open(QIODevice::ReadOnly));
            QVERIFY(environ.readAll().split('\0').contains("CALLVANE_INSTALLED=" + QFile::encodeName(m_prefix)
                                                           + "/libexec/callvane/blacklist"));
            window.terminate();
            QVERIFY(window.waitForFinished(5000));
        };
        start();
        for (const char *linked : {"callvane", "blacklist", "callvane-ring", "images", "languages"})
            QVERIFY2(QFileInfo(home + program + linked).symLinkTarget().startsWith(m_prefix), linked);
        QVERIFY(QFileInfo(home + storage + ".blacklist").isExecutable());
        QFile settings(home + program + "Callvane.cfg");
        QVERIFY(settings.open(QIODevice::Append));
        settings.write("[Blacklist]\nNum = 600112233\n");
        settings.close();
        start();
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().endsWith("Num = 600112233\n"));
        QVERIFY(!QFileInfo(home + program + "Callvane.cfg").isSymLink());

        // The simulator on PATH rings the daemon of the same storage.
        QProcess ring;
        ring.setProcessEnvironment(userEnvironment(home, environment));
        ring.start(m_prefix + "/bin/callvane-ring", {"600112233"});
        QVERIFY(ring.waitForFinished(10000));
        QCOMPARE(ring.exitCode(), 2); // the firewall is off
        const QString said = QString::fromLocal8Bit(ring.readAllStandardError());
        QVERIFY2(QDir::cleanPath(said).contains(" " + QDir::cleanPath(home + storage + ".blacklist.sock") + " "),
                 qPrintable(said));
    }

    // The user unit's start (the launcher's) runs the daemon where the window and the
    // simulator look for it, also for a user who never opened the window.
    void userUnitStartsTheWindowsDaemon()
    {
        const QString home = m_dir.filePath("home-daemon") + "/";
        QProcess start;
        start.setProcessEnvironment(userEnvironment(home, {}));
        start.start(m_prefix + "/bin/callvane", {"--start-daemon"});
        QVERIFY(start.waitForFinished(10000));
        QCOMPARE(start.exitCode(), 0);
        QFile lock(home + ".local/state/callvane/.blacklist.lock");
        QVERIFY(lock.open(QIODevice::ReadOnly));
        const pid_t daemon = lock.readLine().trimmed().toInt();
        const auto stop = qScopeGuard([daemon] { ::kill(daemon, SIGTERM); });
        QCOMPARE(QFile::symLinkTarget(QString("/proc/%1/cwd").arg(daemon)), QString("/"));
        QProcess ring;
        ring.setProcessEnvironment(userEnvironment(home, {}));
        ring.start(m_prefix + "/bin/callvane-ring", {"600112233"});
        QVERIFY(ring.waitForFinished(10000));
        QCOMPARE(ring.exitCode(), 0); // answered: allowed by the starting settings
    }

    // As systemd would load it, also for a user who never opened the window.
    void userUnitVerifies()
    {
        QTemporaryDir runtime; // a user manager's runtime directory
        QVERIFY(QFile::setPermissions(runtime.path(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QProcess verify;
        QProcessEnvironment env = userEnvironment(m_dir.filePath("home-unit"), {});
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        verify.setProcessEnvironment(env);
        verify.setProcessChannelMode(QProcess::MergedChannels);
        // The unit names the launcher of this install, not of the build's prefix.
        QFile unit(m_prefix + "/lib/systemd/user/callvane-blacklist.service");
        QVERIFY(unit.open(QIODevice::ReadOnly));
        QVERIFY(
            unit.readAll().contains("\nExecStart=" + QFile::encodeName(m_prefix) + "/bin/callvane --start-daemon\n"));
        verify.start("systemd-analyze", {"--user", "verify", "--man=no", unit.fileName()});
        QVERIFY(verify.waitForFinished(30000));
        const QByteArray said = verify.readAll();
        QVERIFY2(verify.exitCode() == 0 && said.isEmpty(), said.constData());
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
