#pragma once

#include "control/commands.h"
#include "tests/recordingshell.h"
#include "tests/testfiles.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <qnamespace.h>

#include <functional>
#include <memory>
#include <optional>

class QObject;
class QWidget;
class ZGui;
class ZListBox;
class ZOptionsMenu;

// A GUI test process runs the window in a program directory of its own: argv[0] names
// PROGRAM/callvane, CALLVANE_STORAGE names a storage directory beside it.
namespace guitest {

QString programDir(); // ends in "/"
QString storageDir(); // ends in "/"
void setInvocationPath(const QByteArray &argv0);

using testfiles::readFile;
using testfiles::writeFile;
// The program directory as shipped, with the language "Test" (every text is its own key)
// chosen in `settings`, and an empty storage directory.
void reset(const QByteArray &settings = "[Callvane]\nLanguage = Test\n");
QByteArray settings();
QString storedValue(const char *group, const char *key); // "<missing>" when absent

// The phone's shell, played: every command is recorded; the process probe finds
// `probeOutput` (none: the probe file is never made); the language listing really runs.
class FakeShell : public RecordingShell
{
public:
    FakeShell();
    void setDaemonRunning(bool running);
    std::vector<std::string> takeCommands();

    std::optional<QByteArray> probeOutput = QByteArray();
    // Called for every command after its own effect.
    std::function<void(const std::string &)> spy;
};

// The window's commands for the test's program and storage directories.
control::Commands testCommands();
// The commands a probe and a restart give, for comparisons.
std::vector<std::string> probeCommands();
std::vector<std::string> restartCommands();
std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts);

// Answers the next modal dialog, from inside its exec(), once it is shown. A dialog that
// nobody answers is cancelled after five seconds and counted in unexpectedDialogs().
void onNextDialog(std::function<void(QWidget *dialog)> answer);
void chooseInNextDialog(int downPresses); // Down n times, then Enter
void cancelNextDialog(); // Escape
void typeInNextDialog(const QString &text); // types, then Enter
// Every dialog expected was shown and answered, and no other dialog was shown.
bool allDialogsAnswered();
QStringList dialogTitles(); // titles of the dialogs answered since the last reset()

std::unique_ptr<ZGui> makeGui(control::Shell &shell);
ZListBox *box(ZGui &gui, const char *name);
ZOptionsMenu *menu(ZGui &gui);
// Each row's text lines joined by "|".
QStringList rows(ZListBox *box);
// Opens the current tab's menu with F1 and runs the item at `position` with Down and Enter.
void runMenuItem(ZGui &gui, int position);
void showTab(ZGui &gui, int index);

// A key as the phone's keypad gives it: to the window that has the keyboard, and there to its
// focus widget (or the window itself), then on to the parents while none takes it.
void press(Qt::Key key);

int run(QObject *test, int argc, char **argv);

} // namespace guitest

#define CALLVANE_GUI_TEST_MAIN(TestClass)                                                                              \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        TestClass test;                                                                                                \
        return guitest::run(&test, argc, argv);                                                                        \
    }
