// Renders the window offscreen into PNG files: each tab, an open options menu, a dialog.
// usage: screenshots PROGRAM_DIR OUTPUT_DIR [dark]   (PROGRAM_DIR is copied, never changed)
// With "dark", in a dark theme's colours, into NAME-dark.png.

#include "app/zgui.h"
#include "control/commands.h"
#include "ezx/zapplication.h"
#include "ezx/znavtabwidget.h"
#include "ezx/zpopup.h"
#include "ezx/zsoftkey.h"
#include "firewall/storage.h"
#include "tests/palettes.h"
#include "tests/recordingshell.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>

int main(int argc, char **argv)
{
    const bool dark = argc == 4 && std::string(argv[3]) == "dark";
    if (argc != 3 && !dark) {
        std::fprintf(stderr, "usage: screenshots PROGRAM_DIR OUTPUT_DIR [dark]\n");
        return 2;
    }
    QTemporaryDir work;
    const QString programDir = work.path() + "/prog";
    const QString storage = work.path() + "/storage/";
    if (!work.isValid() || QProcess::execute("cp", {"-r", QString::fromLocal8Bit(argv[1]), programDir}) != 0
        || !QDir().mkpath(storage) || !QDir().mkpath(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "screenshots: cannot lay out %s\n", argv[1]);
        return 1;
    }
    qputenv(firewall::Storage::kDirVariable, QFile::encodeName(storage));
    std::ofstream(QFile::encodeName(programDir + "/Callvane.cfg").constData())
        << "[Callvane]\nLanguage = English\nFirewall = Blacklist\nBlockUnknown = Yes\n\n"
           "[Blacklist]\nNum = +34 600 11 22 33;0800 555 123;+44 20 7946 0000\n\n[Whitelist]\nNum = 112;+33 1 23 45 67 "
           "89\n";
    std::ofstream(QFile::encodeName(storage + ".blockedcalls").constData())
        << "+34 600 11 22 33\n2026-12-01 09:14:02\nunknown\n2026-12-02 21:40:55\n0800 555 123\n2026-12-05 12:03:17\n";

    std::string fakeArgv0 = QFile::encodeName(programDir + "/callvane").toStdString();
    char *args[] = {fakeArgv0.data(), nullptr};
    int count = 1;
    ZApplication application(count, args);
    if (dark)
        QApplication::setPalette(darkPalette());

    // The status tab shows a running firewall; no command really runs.
    RecordingShell shell;
    const std::string probeCommand =
        control::Commands(QFile::encodeName(programDir + "/").toStdString(), QFile::encodeName(storage).toStdString())
            .probe()
            .back();
    shell.effect = [&](const std::string &command) {
        if (command == probeCommand)
            std::ofstream(QFile::encodeName(programDir + "/state").constData())
                << storage.toStdString() << ".blacklist\n";
    };
    ZGui gui(QString(), nullptr, nullptr, 0, &shell);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const auto save = [&](QWidget *widget, const char *name) {
        QApplication::processEvents();
        widget->grab().save(out + "/" + name + (dark ? "-dark" : "") + ".png");
    };

    auto *tabs = gui.findChild<ZNavTabWidget *>();
    const char *names[] = {"status", "blacklist", "whitelist", "register"};
    for (int tab = 3; tab >= 0; --tab) {
        tabs->setCurrentIndex(tab);
        save(&gui, names[tab]);
    }
    tabs->setCurrentIndex(1);
    gui.findChild<ZSoftKey *>()->pressKey(0);
    save(&gui, "menu");
    gui.findChild<ZSoftKey *>()->pressKey(1);

    const auto grabDialog = [&](const char *name, const std::function<void()> &open) {
        // The dialog opens over the window: the window shows both.
        QTimer::singleShot(0, [&, name] {
            auto *dialog = gui.findChild<ZPopup *>();
            QTest::keyClick(dialog->focusWidget() != nullptr ? dialog->focusWidget() : dialog, Qt::Key_Down);
            save(&gui, name);
            dialog->reject();
        });
        open();
    };
    grabDialog("about", [&] { gui.about(); });
    grabDialog("choice", [&] { gui.ChangeList(); });
    grabDialog("add", [&] { gui.addNumber1(); });
    return 0;
}
