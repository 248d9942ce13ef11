#include "firewall/callscreen.h"
#include "firewall/region.h"
#include "tests/testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using firewall::CallScreen;
using firewall::FirewallSettings;
namespace keycache = firewall::keycache;

namespace {

FirewallSettings settings(bool blacklistMode, bool blockUnknown, std::vector<std::string> list)
{
    FirewallSettings s;
    s.blacklistMode = blacklistMode;
    s.blockUnknown = blockUnknown;
    // The list of the other mode holds the same number, so a mix-up shows.
    (blacklistMode ? s.blacklist : s.whitelist) = std::move(list);
    (blacklistMode ? s.whitelist : s.blacklist) = {"+34 911 000 000"};
    return s;
}

} // namespace

class TestCallScreen : public QObject
{
    Q_OBJECT

private slots:
    void rule_data()
    {
        // clang-format off
        QTest::addColumn<bool>("blacklistMode");
        QTest::addColumn<bool>("blockUnknown");
        QTest::addColumn<QString>("caller");
        QTest::addColumn<bool>("blocked");
        // The active list holds 600112233; "+34 911 000 000" stands on the other list only.
        for (const bool blacklistMode : {true, false}) {
            for (const bool blockUnknown : {true, false}) {
                const QString row = QStringLiteral("%1, unknown %2: ")
                                        .arg(blacklistMode ? "black list" : "white list",
                                             blockUnknown ? "blocked" : "allowed");
                QTest::addRow("%s", qPrintable(row + "listed"))
                    << blacklistMode << blockUnknown << "600112233" << blacklistMode;
                QTest::addRow("%s", qPrintable(row + "not listed"))
                    << blacklistMode << blockUnknown << "600999999" << !blacklistMode;
                QTest::addRow("%s", qPrintable(row + "on the other list only"))
                    << blacklistMode << blockUnknown << "911000000" << !blacklistMode;
                QTest::addRow("%s", qPrintable(row + "no number"))
                    << blacklistMode << blockUnknown << "" << blockUnknown;
                QTest::addRow("%s", qPrintable(row + "unknown"))
                    << blacklistMode << blockUnknown << "unknown" << blockUnknown;
            }
        }
        // clang-format on
    }

    void rule()
    {
        QFETCH(bool, blacklistMode);
        QFETCH(bool, blockUnknown);
        QFETCH(QString, caller);
        QFETCH(bool, blocked);
        const CallScreen screen(settings(blacklistMode, blockUnknown, {"600112233"}), "ES");
        QCOMPARE(screen.blocks(caller.toStdString()), blocked);
    }

    void matching_data()
    {
        // clang-format off
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("caller");
        QTest::addColumn<bool>("match");
        QTest::newRow("international and national") << "ES" << "+34 600 11 22 33" << "600112233" << true;
        QTest::newRow("00 prefix") << "ES" << "0034600112233" << "+34600112233" << true;
        QTest::newRow("dashes dots brackets") << "ES" << "(600) 11-22.33" << "600 11 22 33" << true;
        QTest::newRow("national with trunk zero") << "GB" << "020 7946 0000" << "+44 20 7946 0000" << true;
        QTest::newRow("other region's national form") << "GB" << "600112233" << "+34600112233" << false;
        QTest::newRow("shared suffix") << "ES" << "600112233" << "+34 690 112 233" << false;
        QTest::newRow("one digit more") << "ES" << "600112233" << "6001122334" << false;
        QTest::newRow("no region: international forms") << "" << "+34 600 11 22 33" << "+34600112233" << true;
        QTest::newRow("no region: national text exact") << "" << "600112233" << "600112233" << true;
        QTest::newRow("no region: national forms") << "" << "600112233" << "600 11 22 33" << true;
        QTest::newRow("no region: national entry, international caller") << "" << "911 22 33 44" << "+34911223344" << true;
        QTest::newRow("no region: 00 entry") << "" << "0034600112233" << "+34600112233" << true;
        QTest::newRow("no region: 00 caller") << "" << "+34 600 11 22 33" << "0034600112233" << true;
        QTest::newRow("no region: 00 and national") << "" << "0034600112233" << "600 11 22 33" << true;
        QTest::newRow("short code exact") << "ES" << "112" << "112" << true;
        QTest::newRow("short code other form") << "ES" << "112" << "1 1 2" << false;
        QTest::newRow("short code not a suffix") << "ES" << "22333" << "600122333" << false;
        QTest::newRow("text exact") << "ES" << "Mum" << "Mum" << true;
        QTest::newRow("text other case") << "ES" << "Mum" << "mum" << false;
        QTest::newRow("blank entry") << "ES" << " " << "600112233" << false;
        QTest::newRow("no region: national number of an international entry") << "" << "+34 600 11 22 33" << "600 11 22 33" << true;
        QTest::newRow("no region: with a trunk zero") << "" << "+44 20 7946 0000" << "020 7946 0000" << true;
        QTest::newRow("no region: another national number") << "" << "+34 600 11 22 33" << "600112234" << false;
        QTest::newRow("long entry: text only") << "ES" << "+34 600 11 22 33" + QString(60, ' ') << "600112233" << false;
        QTest::newRow("long entry: itself") << "ES" << QString(100000, '6') << QString(100000, '6') << true;
        QTest::newRow("prefix international") << "ES" << "+34 905*" << "905 12 34 56" << true;
        QTest::newRow("prefix international, other caller") << "ES" << "+34 905*" << "+34 906 12 34 56" << false;
        QTest::newRow("prefix national") << "ES" << "905*" << "+34905123456" << true;
        QTest::newRow("prefix national with trunk zero") << "GB" << "0900*" << "+44 900 123 4567" << true;
        QTest::newRow("prefix other country") << "GB" << "0900*" << "+34 900 123 456" << false;
        QTest::newRow("prefix of a short code") << "ES" << "11*" << "112" << true;
        QTest::newRow("prefix of a text") << "ES" << "Mu*" << "Mum" << true;
        QTest::newRow("prefix of text, caller parses") << "ES" << "131200610=!*" << "131200610=!*" << true;
        QTest::newRow("star inside is text") << "ES" << "9*5" << "905" << false;
        QTest::newRow("prefix with 00") << "ES" << "0034 905*" << "0034905123456" << true;
        QTest::newRow("no region: prefix with 00") << "" << "0034 905*" << "+34905123456" << true;
        QTest::newRow("no region: international prefix, national caller") << "" << "+34 905*" << "905123456" << true;
        QTest::newRow("no region: national prefix, international caller") << "" << "905*" << "+34905123456" << true;
        QTest::newRow("no region: international prefix, other country") << "" << "+34 905*" << "+44905123456" << false;
        QTest::newRow("star alone: every caller with a number") << "ES" << "*" << "Mum" << true;
        QTest::newRow("plus star: every phone number") << "" << "+*" << "+44 20 7946 0000" << true;
        QTest::newRow("plus star: no text") << "ES" << "+*" << "Mum" << false;
        // clang-format on
    }

    void matching()
    {
        QFETCH(QString, region);
        QFETCH(QString, entry);
        QFETCH(QString, caller);
        QFETCH(bool, match);
        const FirewallSettings list = settings(true, false, {entry.toStdString()});
        std::vector<std::uint64_t> keys;
        const CallScreen screen(list, region.toStdString(), nullptr, &keys);
        QCOMPARE(screen.blocks(caller.toStdString()), match);
        // The same through the key cache a restart reads: nothing parsed, the same answer.
        QTemporaryDir dir;
        const std::string cache = dir.filePath("keys").toStdString();
        QVERIFY(keycache::save(cache, region.toStdString(), list.blacklist, keys));
        const keycache::Keys known = keycache::load(cache, region.toStdString());
        const CallScreen restarted(list, region.toStdString(), &known);
        QCOMPARE(restarted.parsed(), size_t(0));
        QCOMPARE(restarted.blocks(caller.toStdString()), match);
    }

    // A restart after an edit parses the new entry only; a cache it cannot trust, everything.
    void keyCacheSparesParsing_data()
    {
        QTest::addColumn<QByteArray>("damage"); // "cut N", "append", "region", "library", "header", "none"
        QTest::addColumn<int>("parsed");
        QTest::newRow("intact") << QByteArray("none") << 1;
        QTest::newRow("made for another region") << QByteArray("region") << 4;
        QTest::newRow("made with another phone-number library") << QByteArray("library") << 4;
        QTest::newRow("another format") << QByteArray("header") << 4;
        QTest::newRow("cut short in an entry") << QByteArray("cut 12") << 4;
        QTest::newRow("cut short in the count") << QByteArray("cut 3") << 4;
        QTest::newRow("bytes after the end") << QByteArray("append") << 4;
    }

    void keyCacheSparesParsing()
    {
        QFETCH(QByteArray, damage);
        QFETCH(int, parsed);
        QTemporaryDir dir;
        const std::string cache = dir.filePath("keys").toStdString();
        std::vector<std::string> list{"+34 600 11 22 33", "112", "911 00 00 00"};
        std::vector<std::uint64_t> keys;
        CallScreen(settings(true, false, list), "ES", nullptr, &keys);
        QVERIFY(keycache::save(cache, damage == "region" ? "DE" : "ES", list, keys));
        QFile file(QString::fromStdString(cache));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        if (damage.startsWith("cut"))
            bytes.chop(damage.mid(4).toInt());
        if (damage == "append")
            bytes += "x";
        if (damage == "header")
            bytes.replace("callvane-keys 2", "callvane-keys 1");
        if (damage == "library")
            bytes.replace(QByteArray::fromStdString(keycache::library()), "libphonenumber.so.8 1 1");
        QVERIFY(file.resize(0) && file.write(bytes) == bytes.size());
        file.close();

        list.push_back("+34 600 99 99 99");
        const keycache::Keys known = keycache::load(cache, "ES");
        const CallScreen restarted(settings(true, false, list), "ES", &known);
        QCOMPARE(int(restarted.parsed()), parsed);
        for (const char *caller : {"600112233", "112", "+34911000000", "600999999"})
            QVERIFY2(restarted.blocks(caller), caller);
        QVERIFY(!restarted.blocks("600112234"));
    }

    // A restart after an edit takes the saved keys of the entries it kept and parses the new
    // ones; every key is what parsing gives.
    void keyCacheFollowsAnEditedList_data()
    {
        QTest::addColumn<QStringList>("saved");
        QTest::addColumn<QStringList>("now");
        QTest::addColumn<int>("parsed");
        const QString a = "+34 600 00 00 01", b = "600000002", c = "Mum", d = "+34 600 00 00 04";
        const QString x = "+34 611 11 11 11", p = "905*";
        QTest::newRow("added at the end") << QStringList{a, b, c} << QStringList{a, b, c, d} << 1;
        QTest::newRow("one removed") << QStringList{a, b, c, d} << QStringList{a, c, d} << 0;
        QTest::newRow("reversed") << QStringList{a, b, c, d} << QStringList{d, c, b, a} << 0;
        QTest::newRow("a prefix moved first") << QStringList{a, p, b} << QStringList{p, a, b, x} << 1;
        QTest::newRow("all new") << QStringList{a, b} << QStringList{x, d} << 2;
        QTest::newRow("from none") << QStringList{} << QStringList{a, b} << 2;
    }

    void keyCacheFollowsAnEditedList()
    {
        QFETCH(QStringList, saved);
        QFETCH(QStringList, now);
        QFETCH(int, parsed);
        const auto entries = [](const QStringList &texts) {
            std::vector<std::string> list;
            for (const QString &text : texts)
                list.push_back(text.toStdString());
            return list;
        };
        QTemporaryDir dir;
        const std::string cache = dir.filePath("keys").toStdString();
        std::vector<std::uint64_t> savedKeys;
        CallScreen(settings(true, false, entries(saved)), "ES", nullptr, &savedKeys);
        QVERIFY(keycache::save(cache, "ES", entries(saved), savedKeys));
        const keycache::Keys known = keycache::load(cache, "ES");
        std::vector<std::uint64_t> keys;
        std::vector<std::uint64_t> parsedKeys;
        const CallScreen restarted(settings(true, false, entries(now)), "ES", &known, &keys);
        CallScreen(settings(true, false, entries(now)), "ES", nullptr, &parsedKeys);
        QCOMPARE(int(restarted.parsed()), parsed);
        QCOMPARE(keys, parsedKeys);
    }

    // A long list is parsed on several threads: every entry still gets its own key, also
    // where a cache left only every other entry to parse.
    void longListKeysEveryEntry()
    {
        std::vector<std::string> list;
        std::vector<std::string> even;
        for (int i = 0; i < 6000; ++i) {
            const std::string digits = std::to_string(10000000 + i);
            list.push_back(i % 3 == 0 ? "+34 6" + digits : i % 3 == 1 ? "6" + digits : "text " + std::to_string(i));
            if (i % 2 == 0)
                even.push_back(list.back());
        }
        QTemporaryDir dir;
        const std::string cache = dir.filePath("keys").toStdString();
        std::vector<std::uint64_t> evenKeys;
        CallScreen(settings(true, false, even), "ES", nullptr, &evenKeys);
        QVERIFY(keycache::save(cache, "ES", even, evenKeys));
        const keycache::Keys known = keycache::load(cache, "ES");

        std::vector<std::uint64_t> keys;
        const CallScreen screen(settings(true, false, list), "ES", &known, &keys);
        QCOMPARE(int(screen.parsed()), 3000);
        QCOMPARE(keys.size(), list.size());
        for (size_t i = 0; i < list.size(); ++i)
            QVERIFY2(keys[i] == screen.numberKey(list[i]), list[i].c_str());
        for (const char *caller : {"+34610000000", "610000001", "+34 610 005 997", "610005998", "text 5999", "text 2"})
            QVERIFY2(screen.blocks(caller), caller);
        QVERIFY(!screen.blocks("+34610006000"));
    }

    void emptyListBlocksAllInWhiteListMode()
    {
        const CallScreen white(settings(false, false, {}), "ES");
        QVERIFY(white.blocks("600112233"));
        const CallScreen black(settings(true, false, {}), "ES");
        QVERIFY(!black.blocks("600112233"));
    }

    void regionFromEnvironment_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("region");
        QTest::addColumn<QByteArray>("lcAll");
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QByteArray>("tz");
        QTest::addColumn<QString>("network"); // the mobile network's region
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("whence");
        QTest::newRow("explicit region") << QByteArray("es") << QByteArray("de_DE.UTF-8") << QByteArray() << QByteArray("Europe/Berlin") << "" << "ES" << "CALLVANE_REGION";
        QTest::newRow("explicit region before the network's") << QByteArray("es") << QByteArray() << QByteArray() << QByteArray() << "GB" << "ES" << "CALLVANE_REGION";
        QTest::newRow("the network's before the locale's") << QByteArray() << QByteArray() << QByteArray("en_US.UTF-8") << QByteArray() << "GB" << "GB" << "the network";
        QTest::newRow("invalid explicit region ignored") << QByteArray("ESP") << QByteArray("de_DE.UTF-8") << QByteArray() << QByteArray() << "" << "DE" << "the locale LC_ALL=de_DE.UTF-8";
        QTest::newRow("LC_ALL before LANG") << QByteArray() << QByteArray("fr_FR.UTF-8") << QByteArray("en_GB") << QByteArray() << "" << "FR" << "the locale LC_ALL=fr_FR.UTF-8";
        QTest::newRow("LANG") << QByteArray() << QByteArray() << QByteArray("en_US.UTF-8") << QByteArray("Europe/Madrid") << "" << "US" << "the locale LANG=en_US.UTF-8";
        QTest::newRow("C locale, Spanish time zone") << QByteArray() << QByteArray("C.UTF-8") << QByteArray("en_GB") << QByteArray("Europe/Madrid") << "" << "ES" << "the time zone Europe/Madrid";
        QTest::newRow("no locale, zone of several countries") << QByteArray() << QByteArray() << QByteArray() << QByteArray(":Europe/Berlin") << "" << "DE" << "the time zone Europe/Berlin";
        QTest::newRow("C locale, a zone that is a link") << QByteArray() << QByteArray("C.UTF-8") << QByteArray() << QByteArray("Europe/Stockholm") << "" << "SE" << "the time zone Europe/Stockholm";
        QTest::newRow("C locale, UTC") << QByteArray() << QByteArray("C.UTF-8") << QByteArray() << QByteArray("Etc/UTC") << "" << "" << "";
        QTest::newRow("no locale, unknown zone") << QByteArray() << QByteArray() << QByteArray() << QByteArray("Mars/Olympus") << "" << "" << "";
        // clang-format on
    }

    void regionFromEnvironment()
    {
        QFETCH(QByteArray, region);
        QFETCH(QByteArray, lcAll);
        QFETCH(QByteArray, lang);
        QFETCH(QByteArray, tz);
        QFETCH(QString, network);
        QFETCH(QString, expected);
        QFETCH(QString, whence);
        const auto set = [](const char *name, const QByteArray &value) {
            if (value.isEmpty())
                qunsetenv(name);
            else
                qputenv(name, value);
        };
        set("CALLVANE_REGION", region);
        set("LC_ALL", lcAll);
        set("LC_MESSAGES", {});
        set("LANG", lang);
        set("TZ", tz.isEmpty() ? QByteArray("Etc/UTC") : tz);
        const firewall::Region found = firewall::Region::fromEnvironment([&network] {
            return network.isEmpty() ? firewall::Region{} : firewall::Region{network.toStdString(), "the network"};
        });
        QCOMPARE(QString::fromStdString(found.code), expected);
        QCOMPARE(QString::fromStdString(found.whence), whence);
    }

    void regionOfTheNetwork_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("providers"); // empty: mobile-broadband-provider-info's list
        QTest::addColumn<QString>("operatorCode");
        QTest::addColumn<QString>("expected");
        QTest::newRow("MCC alone") << QByteArray() << "21407" << "ES";
        QTest::newRow("the network before its MCC") << QByteArray() << "23458" << "IM";
        QTest::newRow("same MCC, another network") << QByteArray() << "23499" << "GB";
        QTest::newRow("three-digit MNC") << QByteArray() << "310260" << "US";
        QTest::newRow("unknown MCC") << QByteArray() << "99999" << "";
        QTest::newRow("too short") << QByteArray() << "2140" << "";
        QTest::newRow("not digits") << QByteArray() << "2140a" << "";
        QTest::newRow("none") << QByteArray() << "" << "";
        QTest::newRow("a network in a comment") << QByteArray("<serviceproviders><country code=\"es\"><!-- <network-id mcc=\"999\" mnc=\"01\"/> --></country></serviceproviders>") << "99901" << "";
        QTest::newRow("list cut short") << QByteArray("<serviceproviders><country code=\"es\"><network-id mcc=\"214\" mnc=\"07\"/>") << "21407" << "";
        // clang-format on
    }

    void regionOfTheNetwork()
    {
        QFETCH(QByteArray, providers);
        QFETCH(QString, operatorCode);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = providers.isEmpty() ? QString(firewall::Region::kProviders) : dir.filePath("p.xml");
        if (!providers.isEmpty())
            testfiles::writeFile(path, providers);
        const firewall::Region found =
            firewall::Region::ofNetwork({operatorCode.toStdString()}, QFile::encodeName(path).toStdString());
        QCOMPARE(QString::fromStdString(found.code), expected);
        QCOMPARE(found.whence.empty(), expected.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestCallScreen)
#include "tst_callscreen.moc"
