#pragma once

#include "control/commands.h"
#include "ezx/zkbmainwidget.h"
#include "firewall/storage.h"
#include "settingsstore/settingsstore.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class ZConfig;
class ZListBox;
class ZListBoxItem;
class ZNavTabWidget;
class ZOptionsMenu;
class ZSoftKey;

namespace control {
class Shell;
}

// The firewall's one window: the status, black list, white list and register tabs.
// Every slot opens the files it needs and rebuilds what it changed from them.
class ZGui : public ZKbMainWidget
{
    Q_OBJECT
public:
    // `shell` runs the window's commands; when null, a SystemShell (each through sh as system()
    // runs it, its stderr read). Tests pass a recorder.
    ZGui(const QString &argument, QWidget *parent = nullptr, const char *name = nullptr, unsigned int flags = 0,
         control::Shell *shell = nullptr, firewall::Storage storage = firewall::Storage::fromEnvironment());
    ~ZGui() override;

    QString getProgramDir();
    void CreateWindow(QWidget *parent);
    void Create_SoftKey();
    void Create_MenuApp();
    void Create_MenuBlack();
    void Create_MenuWhite();
    void Create_MenuCalls();

    QString languagePath() const { return m_languagePath; }
    QString daemonState() const { return m_daemonState; }

public slots:
    void about();
    void salir();
    void language();
    void CargarMain();
    void CargarBlacklist();
    void CargarWhitelist();
    void CargarLlamadas();
    void ChangeState();
    void ChangeList();
    void addNumber1();
    void addNumber2();
    void removeNumber1();
    void removeNumber2();
    void removeCall();
    void blockUnk();
    void slotCurrentChanged(QWidget *page);
    void appClicked(ZListBoxItem *item);

private:
    // What tells the twin slots of the two number lists apart.
    struct NumberList
    {
        const char *group;
        ZListBox *ZGui::*box;
        void (ZGui::*loader)();
        size_t ZGui::*timesRead; // the settings' read that the box shows
    };
    static const NumberList kBlacklist;
    static const NumberList kWhitelist;

    struct MenuItem
    {
        const char *icon; // empty: a separator
        const char *textKey;
        const QObject *receiver;
        const char *slot;
    };

    QString languageFile(const QString &name) const;
    QString settingsPath() const;
    // A value of the settings' group "CALLVANE" (empty when missing).
    QString setting(const char *key);
    QString text(ZConfig &language, const char *key) const;
    QPixmap image(const QString &relativePath) const;
    control::Commands commands() const;
    void nameTabs();
    void buildMenu(std::initializer_list<MenuItem> own);
    void buildNumberMenu(const char *addSlot, const char *removeSlot);
    void refreshStatus();
    void appendStatusRow(const char *icon, const QString &label, const QString &value);
    void restartDaemonIfOn();
    // The checked item of a two-choice question, or -1 when cancelled or nothing is checked.
    int choose(const char *titleKey, const char *firstKey, const char *secondKey);
    void writeSetting(const char *key, const char *value);
    void loadNumbers(const NumberList &list);
    void appendNumbers(ZListBox *box, std::string_view numbers);
    void reload(ZListBox *box, void (ZGui::*loader)());
    // Stores what `edit` makes of the stored list; `showEdit` shows it in the box where the
    // box showed the list as stored, else the box is loaded again.
    void editNumbers(const NumberList &list, const std::function<std::string(std::string_view)> &edit,
                     const std::function<void(ZListBox *)> &showEdit);
    void addNumber(const NumberList &list);
    void removeNumber(const NumberList &list);
    void switchLanguage(const QString &file);
    // The rows of a log's text.
    void appendCalls(std::string_view log);

    const firewall::Storage m_storage;
    QString m_programDir;
    QString m_languagePath;
    ZListBox *m_statusBox = nullptr;
    ZListBox *m_blacklistBox = nullptr;
    ZListBox *m_whitelistBox = nullptr;
    ZListBox *m_registerBox = nullptr;
    size_t m_blacklistRead = 0;
    size_t m_whitelistRead = 0;
    // What the register's rows say for a withheld caller: the language they were made in,
    // which a change of language does not remake.
    std::string m_registerUnknownText;
    QString m_daemonState;
    settingsstore::SettingsStore m_settings{std::string()}; // the settings file, while the window is open
    ZNavTabWidget *m_tabs = nullptr;
    ZSoftKey *m_softKey = nullptr;
    ZOptionsMenu *m_menu = nullptr;

    std::unique_ptr<control::Shell> m_ownShell;
    control::Shell *m_shell;
};
