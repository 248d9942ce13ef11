#include "firewall/exemptions.h"
#include "tests/testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using firewall::CallerId;
using firewall::Exemptions;
using std::chrono::minutes;
using std::chrono::seconds;

class TestExemptions : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(".blacklist.calls"); }
    Exemptions open(const QByteArray &boot, seconds bootClock, seconds wall) const
    {
        return {{}, "ES", path().toStdString(), boot.toStdString(), {bootClock, wall}};
    }

private slots:
    void cleanup() { QFile::remove(path()); }

    // 112 called on boot "a"; the daemon restarted on `boot` with both clocks moved (minutes),
    // and again `later` minutes on the boot clock with the wall clock set two days back.
    void theEmergencyPeriodKeepsItsLength_data()
    {
        QTest::addColumn<QByteArray>("boot");
        QTest::addColumn<int>("bootMoved");
        QTest::addColumn<int>("wallMoved");
        QTest::addColumn<int>("later");
        QTest::addColumn<bool>("suspended"); // then, and not later
        QTest::newRow("same boot, clock set back a day") << QByteArray("a") << 119 << 119 - 1440 << 2 << true;
        QTest::newRow("same boot, clock set forward a day") << QByteArray("a") << 10 << 10 + 1440 << 111 << true;
        QTest::newRow("same boot, over") << QByteArray("a") << 120 << 120 << 0 << false;
        QTest::newRow("after a reboot, by the wall clock") << QByteArray("b") << -10 << 60 << 61 << true;
        QTest::newRow("after a reboot, over") << QByteArray("b") << -10 << 121 << 0 << false;
        QTest::newRow("after a reboot, the clock behind the call") << QByteArray("b") << -10 << -600 << 121 << true;
    }

    void theEmergencyPeriodKeepsItsLength()
    {
        QFETCH(QByteArray, boot);
        QFETCH(int, bootMoved);
        QFETCH(int, wallMoved);
        QFETCH(int, later);
        QFETCH(bool, suspended);
        const seconds boot0(1000);
        const seconds wall0(1'800'000'000);
        Exemptions first = open("a", boot0, wall0);
        QVERIFY(first.placed("112", false, {boot0, wall0}));
        QCOMPARE(first.suspendedUntil({boot0 + minutes(1), wall0 - minutes(5)}), wall0 + minutes(114));
        const Exemptions::Now now{boot0 + minutes(bootMoved), wall0 + minutes(wallMoved)};
        QCOMPARE(open(boot, now.boot, now.wall).suspended(now), suspended);
        const Exemptions::Now then{now.boot + minutes(later), wall0 - minutes(2880)};
        QVERIFY(!open(boot, then.boot, then.wall).suspended(then));
    }

    // A damaged file, or what is no file, is said and replaced at the next call by one for
    // the owner alone, of at most kMaxCalled numbers.
    void theFileIsKeptSafe_data()
    {
        QTest::addColumn<QByteArray>("content"); // "fifo", "link", or the file's
        QTest::addColumn<QByteArray>("problem");
        QTest::newRow("damaged lines") << QByteArray("callvane-calls 1\ncalled 0\nemergency x\n")
                                       << QByteArray("2 damaged");
        QTest::newRow("a FIFO") << QByteArray("fifo") << QByteArray("not a file");
        QTest::newRow("a link") << QByteArray("link") << QByteArray("Too many levels of symbolic links");
        QTest::newRow("huge") << "callvane-calls 1\n" + QByteArray(300 << 10, '\n') << QByteArray("first 256 KiB");
    }

    void theFileIsKeptSafe()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, problem);
        const QByteArray file = QFile::encodeName(path());
        testfiles::writeFile(m_dir.filePath("target"), "kept");
        if (content == "fifo")
            QCOMPARE(::mkfifo(file.constData(), 0600), 0);
        else if (content == "link")
            QVERIFY(QFile::link(m_dir.filePath("target"), path()));
        else if (!content.isEmpty())
            testfiles::writeFile(path(), content);
        Exemptions exemptions = open("a", seconds(0), seconds(1'800'000'000));
        QVERIFY2(QByteArray::fromStdString(exemptions.problem()).contains(problem), exemptions.problem().c_str());
        for (int i = 0; i <= int(Exemptions::kMaxCalled); ++i)
            QVERIFY(exemptions.placed("+34 6" + std::to_string(11000000 + i), false, {seconds(0), seconds(i)}));
        QCOMPARE(testfiles::readFile(m_dir.filePath("target")), QByteArray("kept"));
        struct stat st = {};
        QVERIFY(::lstat(file.constData(), &st) == 0 && (st.st_mode & 07777) == 0600);
        const QByteArray text = testfiles::readFile(path());
        QVERIFY(text.startsWith("callvane-calls 1\ncalled 1 +34 611000001\n")); // the oldest went
        QCOMPARE(text.count('\n'), 1 + int(Exemptions::kMaxCalled));
        QVERIFY(exemptions.letsThrough(CallerId("611000001"), {seconds(0), seconds(30 * 86400)}));
        QVERIFY(!exemptions.letsThrough(CallerId("611000001"), {seconds(0), seconds(30 * 86400 + 1)}));
    }
};

QTEST_APPLESS_MAIN(TestExemptions)
#include "tst_exemptions.moc"
