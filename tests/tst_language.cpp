#include "app/zgui.h"
#include "ezx/zlistbox.h"
#include "ezx/znavtabwidget.h"
#include "ezx/zoptionsmenu.h"
#include "ezx/zsoftkey.h"
#include "firewall/textkeys.h"
#include "guitest.h"

#include <QPushButton>
#include <QTabBar>
#include <QTest>

using namespace guitest;

namespace {

void writeLanguage(const QString &file, const QByteArray &prefix, const QByteArray &name)
{
    QByteArray text = "[CALLVANE]\n";
    if (!name.isNull())
        text += "LANG_NAME = " + name + "\n";
    for (const char *key : firewall::text::kAllKeys) {
        if (QByteArray(key) != firewall::text::kLangName)
            text += QByteArray(key) + " = " + prefix + key + "\n";
    }
    writeFile(programDir() + "languages/" + file, text);
}

// Only "de" and "en" are installed; the window starts in "de".
void installTwoLanguages()
{
    reset("[Callvane]\nLanguage = de\n[Blacklist]\nNum = 111\n");
    QFile::remove(programDir() + "languages/Test");
    writeLanguage("de", "de:", "Deutsch");
    writeLanguage("en", "en:", "English");
    writeFile(storageDir() + ".blockedcalls", "unknown\nd\n");
}

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void init() { installTwoLanguages(); }

    void cleanup()
    {
        QVERIFY(allDialogsAnswered());
        QVERIFY(!QFile::exists(programDir() + "/ltemp"));
    }

    void offersTheFilesInListingOrder()
    {
        writeLanguage("fr", "fr:", QByteArray()); // no LANG_NAME: an empty entry
        FakeShell shell;
        const auto gui = makeGui(shell);
        QStringList offered;
        onNextDialog([&offered](QWidget *dialog) {
            offered = QStringList{dialog->windowTitle()} + rows(dialog->findChild<ZListBox *>());
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        runMenuItem(*gui, 0);
        QCOMPARE(offered, (QStringList{"de:MENU_LANGUAGE", "Deutsch", "English", ""}));
    }

    void choosingSwitchesTheWindow()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        QCOMPARE(rows(box(*gui, "registerBox")), QStringList{"de:UNKNOWN_NUMBER|d"});
        chooseInNextDialog(1);
        runMenuItem(*gui, 0);
        QCOMPARE(storedValue("Callvane", "Language"), QString("en"));
        QCOMPARE(gui->languagePath(), programDir() + "/languages/en");
        QCOMPARE(rows(box(*gui, "statusBox")).first(), QString("en:MAIN_STATE|en:OPTIONS_DISABLED"));
        QCOMPARE(rows(box(*gui, "blacklistBox")), QStringList{"111"});
        QCOMPARE(gui->findChild<ZSoftKey *>()->text(1), QString("en:MENU_EXIT"));
        QCOMPARE(menu(*gui)->itemText(0), QString("en:MENU_LANG"));
        // What a screen reader says, and a dialog's own keys, change with it.
        QCOMPARE(gui->findChild<ZNavTabWidget *>()->tabBar()->accessibleTabName(2), QString("en:MAIN_WHITE"));
        QStringList keys;
        onNextDialog([&keys](QWidget *dialog) {
            keys = QStringList{dialog->findChild<QPushButton *>("key0")->text(),
                               dialog->findChild<QPushButton *>("key1")->text()};
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        gui->ChangeList();
        QCOMPARE(keys, (QStringList{"en:MENU_SELECT", "en:MENU_CANCEL"}));
        QVERIFY(menu(*gui)->isHidden());
        // The register keeps the text it was loaded with, and its withheld caller's row is
        // still the log's entry.
        QCOMPARE(rows(box(*gui, "registerBox")), QStringList{"de:UNKNOWN_NUMBER|d"});
        box(*gui, "registerBox")->setCurrentRow(0);
        gui->removeCall();
        QCOMPARE(readFile(storageDir() + ".blockedcalls"), QByteArray("\n"));
        // The change is not deployed and restarts nothing.
        QVERIFY((shell.commands.back() == "rm " + programDir().toStdString() + "/ltemp"));
        for (const std::string &command : shell.commands)
            QVERIFY(command.find(".blacklist&") == std::string::npos && command.find("killall") == std::string::npos);
    }

    // A choice that cannot be saved leaves the window in the stored language.
    void unsavedChoiceKeepsTheStoredLanguage()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        chooseInNextDialog(1);
        {
            const FileSizeLimit full(16); // the listing fits, the settings do not
            runMenuItem(*gui, 0);
        }
        QCOMPARE(storedValue("Callvane", "Language"), QString("de"));
        QCOMPARE(gui->languagePath(), programDir() + "/languages/de");
        QCOMPARE(rows(box(*gui, "statusBox")).first(), QString("de:MAIN_STATE|de:OPTIONS_DISABLED"));
    }

    void aFileWithoutANameCanBeChosen()
    {
        writeLanguage("fr", "fr:", QByteArray());
        FakeShell shell;
        const auto gui = makeGui(shell);
        chooseInNextDialog(2);
        runMenuItem(*gui, 0);
        QCOMPARE(storedValue("Callvane", "Language"), QString("fr"));
        QCOMPARE(rows(box(*gui, "statusBox")).at(1), QString("fr:MAIN_LIST|fr:MAIN_WHITE"));
    }

    void cancelChangesNothing()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        const QByteArray before = settings();
        cancelNextDialog();
        runMenuItem(*gui, 0);
        QCOMPARE(settings(), before);
        QCOMPARE(gui->languagePath(), programDir() + "/languages/de");
        QCOMPARE(rows(box(*gui, "statusBox")).first(), QString("de:MAIN_STATE|de:OPTIONS_DISABLED"));
    }

    void choosingTheActiveLanguageAgainReloads()
    {
        FakeShell shell;
        const auto gui = makeGui(shell);
        // Changed behind the window's back: only a reload shows it.
        writeFile(programDir() + "Callvane.cfg", "[Callvane]\nLanguage = de\n[Blacklist]\nNum = 111;222\n");
        chooseInNextDialog(0);
        runMenuItem(*gui, 0);
        QCOMPARE(storedValue("Callvane", "Language"), QString("de"));
        QCOMPARE(rows(box(*gui, "blacklistBox")), (QStringList{"111", "222"}));
    }

    void emptyLanguageDirectoryOffersNothing()
    {
        QFile::remove(programDir() + "languages/de");
        QFile::remove(programDir() + "languages/en");
        FakeShell shell;
        const auto gui = makeGui(shell);
        const QByteArray before = settings();
        QStringList offered;
        onNextDialog([&offered](QWidget *dialog) {
            offered = rows(dialog->findChild<ZListBox *>());
            QTest::keyClick(dialog->findChild<ZListBox *>(), Qt::Key_Down);
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        gui->language();
        QVERIFY(offered.isEmpty());
        QCOMPARE(settings(), before);
    }
};

CALLVANE_GUI_TEST_MAIN(TestLanguage)
#include "tst_language.moc"
