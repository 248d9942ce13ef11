#include "guitest.h"

#include "app/zgui.h"
#include "control/commands.h"
#include "ezx/zapplication.h"
#include "ezx/zlistbox.h"
#include "ezx/zlistboxitem.h"
#include "ezx/znavtabwidget.h"
#include "ezx/zoptionsmenu.h"
#include "ezx/zpopup.h"
#include "ezx/zsoftkey.h"
#include "firewall/storage.h"
#include "firewall/textkeys.h"
#include "settingsstore/settingsstore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dlfcn.h>
#include <link.h>

namespace guitest {

namespace {

QTemporaryDir *g_top = nullptr;
QString g_program;
QString g_storage;
std::vector<char *> g_args;
QByteArray g_argv0;

std::deque<std::function<void(QWidget *)>> g_answers;
QPointer<QWidget> g_lastAnswered;
QPointer<QWidget> g_waiting;
QElapsedTimer g_waitingFor;
int g_unexpected = 0;
QStringList g_titles;

void copyTree(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    for (const QFileInfo &entry : QDir(from).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (entry.isDir())
            copyTree(entry.filePath(), to + "/" + entry.fileName());
        else
            QFile::copy(entry.filePath(), to + "/" + entry.fileName());
    }
}

// The dialog shown over the window (or as a window of its own).
QWidget *shownDialog()
{
    const QWidgetList widgets = QApplication::allWidgets();
    const auto shown = std::find_if(widgets.begin(), widgets.end(), [](const QWidget *widget) {
        return qobject_cast<const ZPopup *>(widget) != nullptr && widget->isVisible();
    });
    return shown != widgets.end() ? *shown : nullptr;
}

void watchDialogs()
{
    QWidget *dialog = shownDialog();
    if (dialog == nullptr || !dialog->isVisible() || dialog == g_lastAnswered)
        return;
    if (!g_answers.empty()) {
        g_lastAnswered = dialog;
        g_titles.append(dialog->windowTitle());
        const auto answer = std::move(g_answers.front());
        g_answers.pop_front();
        answer(dialog);
        return;
    }
    if (g_waiting != dialog) {
        g_waiting = dialog;
        g_waitingFor.start();
    } else if (g_waitingFor.elapsed() > 5000) {
        ++g_unexpected;
        qWarning("nobody answered the dialog \"%s\"", qPrintable(dialog->windowTitle()));
        QTest::keyClick(dialog, Qt::Key_Escape);
    }
}

#ifdef __SANITIZE_ADDRESS__
// Mesa's graphics driver, unloaded at exit, leaves its allocations unreachable, which the leak
// check takes for lost: kept loaded, they are still its own.
void keepGraphicsDriversLoaded()
{
    std::vector<std::string> drivers;
    const auto collect = [](dl_phdr_info *info, size_t /*size*/, void *found) {
        if (std::strstr(info->dlpi_name, "_dri.so") != nullptr)
            static_cast<std::vector<std::string> *>(found)->emplace_back(info->dlpi_name);
        return 0;
    };
    dl_iterate_phdr(collect, &drivers);
    for (const std::string &driver : drivers)
        ::dlopen(driver.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}
#endif

} // namespace

control::Commands testCommands()
{
    return {QFile::encodeName(g_program).toStdString(), firewall::Storage::fromEnvironment().dir()};
}

QString programDir()
{
    return g_program;
}

QString storageDir()
{
    return g_storage;
}

void setInvocationPath(const QByteArray &argv0)
{
    g_argv0 = argv0;
    g_args[0] = g_argv0.data();
}

void reset(const QByteArray &settings)
{
    QDir(g_program).removeRecursively();
    QDir(g_storage).removeRecursively();
    QDir().mkpath(g_storage);
    copyTree(QStringLiteral(CALLVANE_PROGRAM_DIR "/images"), g_program + "images");
    QDir().mkpath(g_program + "languages");
    QByteArray test = "[CALLVANE]\n";
    for (const char *key : firewall::text::kAllKeys)
        test += QByteArray(key) + " = " + (QByteArray(key) == firewall::text::kLangName ? "Test" : key) + "\n";
    writeFile(g_program + "languages/Test", test);
    if (!settings.isNull())
        writeFile(g_program + "Callvane.cfg", settings);
    setInvocationPath(QFile::encodeName(g_program + "callvane"));
    g_answers.clear();
    g_titles.clear();
    g_unexpected = 0;
}

QByteArray settings()
{
    return readFile(g_program + "Callvane.cfg");
}

QString storedValue(const char *group, const char *key)
{
    settingsstore::SettingsStore store(QFile::encodeName(g_program + "Callvane.cfg").toStdString());
    const auto value = store.value(group, key);
    return value ? QString::fromStdString(*value) : QStringLiteral("<missing>");
}

FakeShell::FakeShell()
{
    effect = [this](const std::string &command) {
        const control::Commands c = testCommands();
        if (command == c.probe().back() && probeOutput)
            writeFile(QFile::decodeName(c.probeFile().c_str()), *probeOutput);
        else if (command == c.removeProbeFile())
            QFile::remove(QFile::decodeName(c.probeFile().c_str()));
        else if (command == c.listLanguages() || command == c.removeLanguageList()) [[maybe_unused]]
            const int status = std::system(command.c_str());
        if (spy)
            spy(command);
    };
}

void FakeShell::setDaemonRunning(bool running)
{
    probeOutput = running ? QByteArray::fromStdString(testCommands().daemonMark() + "\n") : QByteArray();
}

std::vector<std::string> FakeShell::takeCommands()
{
    std::vector<std::string> taken;
    taken.swap(commands);
    return taken;
}

std::vector<std::string> probeCommands()
{
    return concat({testCommands().probe(), {testCommands().removeProbeFile()}});
}

std::vector<std::string> restartCommands()
{
    return testCommands().restart();
}

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

void onNextDialog(std::function<void(QWidget *)> answer)
{
    g_answers.push_back(std::move(answer));
}

void chooseInNextDialog(int downPresses)
{
    onNextDialog([downPresses](QWidget *dialog) {
        auto *choices = dialog->findChild<ZListBox *>();
        QWidget *target = choices != nullptr ? static_cast<QWidget *>(choices) : dialog;
        for (int i = 0; i < downPresses; ++i)
            QTest::keyClick(target, Qt::Key_Down);
        QTest::keyClick(target, Qt::Key_Return);
    });
}

void cancelNextDialog()
{
    onNextDialog([](QWidget *dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
}

void typeInNextDialog(const QString &text)
{
    onNextDialog([text](QWidget *dialog) {
        QWidget *edit = dialog->focusWidget() != nullptr ? dialog->focusWidget() : dialog;
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    });
}

bool allDialogsAnswered()
{
    return g_unexpected == 0 && g_answers.empty();
}

QStringList dialogTitles()
{
    return g_titles;
}

std::unique_ptr<ZGui> makeGui(control::Shell &shell)
{
    return std::make_unique<ZGui>(QString(), nullptr, nullptr, 0, &shell);
}

ZListBox *box(ZGui &gui, const char *name)
{
    return gui.findChild<ZListBox *>(QLatin1String(name));
}

ZOptionsMenu *menu(ZGui &gui)
{
    return gui.findChild<ZSoftKey *>()->optMenu(0);
}

QStringList rows(ZListBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts.append(box->item(i)->subItems(1).join(QLatin1Char('|')));
    return texts;
}

void runMenuItem(ZGui &gui, int position)
{
    QTest::keyClick(&gui, Qt::Key_F1);
    ZOptionsMenu *shown = menu(gui);
    QVERIFY(shown != nullptr && shown->isVisible());
    for (int row = 0; row < position; ++row) {
        if (!shown->actions().at(row)->isSeparator())
            QTest::keyClick(shown, Qt::Key_Down);
    }
    QTest::keyClick(shown, Qt::Key_Return);
}

void showTab(ZGui &gui, int index)
{
    gui.findChild<ZNavTabWidget *>()->setCurrentIndex(index);
}

void press(Qt::Key key)
{
    // Named no widget, QTest gives the key to the focused window, as the window system does.
    QTest::keyClick(static_cast<QWidget *>(nullptr), key);
}

int run(QObject *test, int argc, char **argv)
{
    g_top = new QTemporaryDir;
    g_program = g_top->path() + "/prog/";
    g_storage = g_top->path() + "/storage/";
    qputenv(firewall::Storage::kDirVariable, QFile::encodeName(g_storage));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_args.assign(argv, argv + argc);
    g_args.push_back(nullptr);
    g_argv0 = QFile::encodeName(g_program + "callvane");
    g_args[0] = g_argv0.data();
    int count = argc;
    ZApplication application(count, g_args.data());
    reset();
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, &watchDialogs);
    watcher.start(5);
    const int failed = QTest::qExec(test, argc, argv);
#ifdef __SANITIZE_ADDRESS__
    keepGraphicsDriversLoaded();
#endif
    delete g_top;
    return failed;
}

} // namespace guitest

#ifdef __SANITIZE_ADDRESS__
// Qt's Wayland platform leaves some of libwayland-client's allocations at exit; they are not
// ours to free.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libwayland-client.so\n";
}
#endif
