#include "app/zgui.h"

#include "control/shell.h"
#include "ezx/zapplication.h"
#include "ezx/zconfig.h"
#include "ezx/zformcontainer.h"
#include "ezx/zglobal.h"
#include "ezx/zlineedit.h"
#include "ezx/zlistbox.h"
#include "ezx/zlistboxitem.h"
#include "ezx/zmessagedlg.h"
#include "ezx/znavtabwidget.h"
#include "ezx/zoptionsmenu.h"
#include "ezx/zpopup.h"
#include "ezx/zsinglecapturedlg.h"
#include "ezx/zsingleselectdlg.h"
#include "ezx/zsoftkey.h"
#include "firewall/blockedcalllog.h"
#include "firewall/blockednotice.h"
#include "firewall/callerid.h"
#include "firewall/settingskeys.h"
#include "firewall/storage.h"
#include "firewall/textkeys.h"
#include "settingsstore/atomicfile.h"
#include "settingsstore/numberlist.h"
#include "settingsstore/settingsstore.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <vector>

namespace keys = firewall::settings;
namespace text = firewall::text;

namespace {

const QString kOn = QStringLiteral("ON");
const QString kOff = QStringLiteral("OFF");

// The add dialog's title is the text's Latin-1 bytes read as UTF-8, but only where they are
// UTF-8: a text that is already decoded ("Añadir") would otherwise turn into garbage.
QString redecodedTitle(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xff)
            return text;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(text.toLatin1());
    return decoder.hasError() ? text : decoded;
}

QUtf8StringView utf8(std::string_view text)
{
    return {text.data(), static_cast<qsizetype>(text.size())};
}

ZListBoxItem *numberRow(ZListBox *box, const QPixmap &icon, std::string_view number)
{
    auto *row = new ZListBoxItem(box, QStringLiteral("%I%M"));
    row->setPixmap(0, icon, true, false);
    row->appendSubItem(1, utf8(number));
    return row;
}

QStringList readLines(const QString &path)
{
    QStringList lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        lines.append(QFile::decodeName(line));
    }
    return lines;
}

} // namespace

const ZGui::NumberList ZGui::kBlacklist{keys::kBlacklistGroup, &ZGui::m_blacklistBox, &ZGui::CargarBlacklist,
                                        &ZGui::m_blacklistRead};
const ZGui::NumberList ZGui::kWhitelist{keys::kWhitelistGroup, &ZGui::m_whitelistBox, &ZGui::CargarWhitelist,
                                        &ZGui::m_whitelistRead};

ZGui::ZGui(const QString & /*argument*/, QWidget *parent, const char * /*name*/, unsigned int /*flags*/,
           control::Shell *shell, firewall::Storage storage)
    : ZKbMainWidget(3, nullptr, "ZMainWidget", 0)
    , m_storage(std::move(storage))
    , m_ownShell(shell != nullptr ? nullptr : std::make_unique<control::SystemShell>())
    , m_shell(shell != nullptr ? shell : m_ownShell.get())
{
    getProgramDir();
    // The daemons it starts word their notices in its languages.
    qputenv(firewall::BlockedNotice::kLanguagesVariable,
            QFile::encodeName(m_programDir + QStringLiteral("/languages")));
    m_settings = settingsstore::SettingsStore(QFile::encodeName(settingsPath()).toStdString());
    m_languagePath = languageFile(setting(keys::kLanguageKey));
    m_shell->run(commands().startup());
    CreateWindow(parent);
    if (auto *application = qobject_cast<ZApplication *>(qApp))
        application->showMainWidget(this);
    else
        show();
}

ZGui::~ZGui() = default;

QString ZGui::getProgramDir()
{
    const QByteArray invocation = QFile::encodeName(QCoreApplication::arguments().value(0));
    m_programDir = QFile::decodeName(control::Commands::programDirOf(invocation.toStdString()).c_str());
    return m_programDir;
}

QString ZGui::languageFile(const QString &name) const
{
    // Not checked: with none chosen, or one that is missing, every text is empty until a
    // language is chosen.
    return m_programDir + QStringLiteral("/languages/") + name;
}

QString ZGui::settingsPath() const
{
    return m_programDir + QLatin1Char('/') + QLatin1String(keys::kFileName);
}

QString ZGui::setting(const char *key)
{
    return QString::fromStdString(m_settings.value(keys::kCallvaneGroup, key, {}));
}

QString ZGui::text(ZConfig &language, const char *key) const
{
    return language.readEntry(QLatin1String(text::kGroup), QLatin1String(key), QLatin1String(""));
}

QPixmap ZGui::image(const QString &relativePath) const
{
    return ZGlobal::loadImage(m_programDir + relativePath);
}

control::Commands ZGui::commands() const
{
    return {QFile::encodeName(m_programDir).toStdString(), m_storage.dir()};
}

void ZGui::CreateWindow(QWidget * /*parent*/)
{
    setMainWidgetTitle(QStringLiteral("Callvane"));
    auto *form = new ZFormContainer(this, 0, 27);
    setContentWidget(form);

    m_softKey = new ZSoftKey(tr("CST_2A").toLatin1().constData(), form, this);
    m_softKey->setObjectName(QStringLiteral("softKey"));
    form->addChild(m_softKey, true, nullptr);
    m_softKey->setGeometry(ZGlobal::mapFromGlobalR(m_softKey, ZGlobal::getCst2a_1R()));

    m_tabs = new ZNavTabWidget(form, nullptr, 63);
    m_tabs->setObjectName(QStringLiteral("tabs"));
    m_tabs->setGeometry(ZGlobal::mapFromGlobalR(m_tabs, ZGlobal::getContentR(false)));

    const struct
    {
        ZListBox *ZGui::*box;
        const char *layout;
        const char *name;
        const char *icon;
        void (ZGui::*loader)();
    } tabs[] = {
        {&ZGui::m_statusBox, "%I%M%I", "statusBox", "/images/settings.png", &ZGui::CargarMain},
        {&ZGui::m_blacklistBox, "%I%M", "blacklistBox", "/images/black.png", &ZGui::CargarBlacklist},
        {&ZGui::m_whitelistBox, "%I%M", "whitelistBox", "/images/white.png", &ZGui::CargarWhitelist},
        {&ZGui::m_registerBox, "%I%M", "registerBox", "/images/reg.png", &ZGui::CargarLlamadas},
    };
    for (const auto &tab : tabs) {
        auto *box = new ZListBox(QLatin1String(tab.layout), this, 0, 40);
        box->setObjectName(QLatin1String(tab.name));
        this->*tab.box = box;
    }
    for (const auto &tab : tabs)
        m_tabs->addTab(this->*tab.box, QIcon(image(QLatin1String(tab.icon))), QString());
    nameTabs();
    for (const auto &tab : tabs) {
        (this->*tab.loader)();
        connect(this->*tab.box, &ZListBox::returnPressed, this, &ZGui::appClicked);
    }

    Create_MenuApp();
    connect(m_tabs, SIGNAL(currentChanged(QWidget *)), this, SLOT(slotCurrentChanged(QWidget *)));
    Create_SoftKey();
    m_statusBox->setFocus();
}

void ZGui::nameTabs()
{
    ZConfig language(m_languagePath, false);
    const char *const names[] = {text::kMainState, text::kMainBlack, text::kMainWhite, text::kMainRegister};
    for (int tab = 0; tab < m_tabs->count(); ++tab)
        m_tabs->setTabName(tab, text(language, names[tab]));
}

void ZGui::Create_SoftKey()
{
    ZConfig language(m_languagePath, false);
    ZPopup::setKeyTexts(text(language, text::kMenuSelect), text(language, text::kMenuCancel));
    m_softKey->setOptMenu(0, m_menu);
    m_softKey->setText(0, text(language, text::kMenuMenu), 0);
    m_softKey->setTextForOptMenuHide(text(language, text::kMenuMenu));
    m_softKey->setTextForOptMenuShow(text(language, text::kMenuSelect), text(language, text::kMenuCancel));
    m_softKey->setText(1, text(language, text::kMenuExit), 0);
    m_softKey->setClickedSlot(1, qApp, SLOT(quit()));
}

void ZGui::buildMenu(std::initializer_list<MenuItem> own)
{
    // Every menu ends alike.
    std::vector<MenuItem> items(own);
    items.insert(items.end(),
                 {{nullptr, nullptr, nullptr, nullptr},
                  {"images/about.png", text::kMenuAbout, this, SLOT(about())},
                  {"images/exit.png", text::kMenuExit, qApp, SLOT(quit())}});
    ZConfig language(m_languagePath, false);
    // The old menu may be delivering the very activation that replaces it.
    if (m_menu != nullptr)
        m_menu->deleteLater();
    m_menu = new ZOptionsMenu(QRect(), m_softKey, nullptr, 0, 55);
    m_menu->setObjectName(QStringLiteral("optionsMenu"));
    m_menu->setItemSpacing(10);
    int id = 0;
    for (const MenuItem &item : items) {
        if (item.icon == nullptr) {
            m_menu->insertSeparator(id, id);
        } else {
            m_menu->insertItem(text(language, item.textKey), nullptr, image(QLatin1String(item.icon)), true, id, id,
                               false, false, false);
            m_menu->connectItem(id, item.receiver, item.slot);
        }
        ++id;
    }
}

void ZGui::Create_MenuApp()
{
    buildMenu({{"images/lang.png", text::kMenuLang, this, SLOT(language())}});
}

void ZGui::buildNumberMenu(const char *addSlot, const char *removeSlot)
{
    buildMenu({
        {"images/add.png", text::kMenuAdd, this, addSlot},
        {"images/remove.png", text::kMenuDelete, this, removeSlot},
    });
}

void ZGui::Create_MenuBlack()
{
    buildNumberMenu(SLOT(addNumber1()), SLOT(removeNumber1()));
}

void ZGui::Create_MenuWhite()
{
    buildNumberMenu(SLOT(addNumber2()), SLOT(removeNumber2()));
}

void ZGui::Create_MenuCalls()
{
    buildMenu({{"images/remove.png", text::kMenuDelete, this, SLOT(removeCall())}});
}

void ZGui::slotCurrentChanged(QWidget * /*page*/)
{
    m_softKey->setOptMenu(0, nullptr);
    switch (m_tabs->currentPageIndex()) {
    case 0: Create_MenuApp(); break;
    case 1: Create_MenuBlack(); break;
    case 2: Create_MenuWhite(); break;
    case 3: Create_MenuCalls(); break;
    default: return;
    }
    m_softKey->setOptMenu(0, m_menu);
}

void ZGui::about()
{
    ZMessageDlg dialog(QStringLiteral("About"),
                       QString::fromLatin1("Callvane\n"
                                           "A call firewall: black list, white list and a register of blocked calls.\n"
                                           "Copyright (C) 2026 the Callvane developers"),
                       2, 0, nullptr, nullptr, true, 0);
    dialog.exec();
}

void ZGui::salir()
{
    ZMessageDlg dialog(
        QStringLiteral("Callvane"),
        QString::fromUtf8("Desea salir?\nRecuerde que algunos cambios no tendran efecto hasta reiniciar."), 2, 0,
        nullptr, "ZMessageDlg", true, 0);
    if (dialog.exec() != 0)
        qApp->quit();
}

void ZGui::CargarMain()
{
    ZConfig language(m_languagePath, false);
    const QString onText = text(language, text::kOptionsEnabled);
    const QString offText = text(language, text::kOptionsDisabled);

    auto *stateRow = new ZListBoxItem(m_statusBox, QStringLiteral("%I%M"));
    stateRow->setPixmap(0, image(QStringLiteral("/images/power.png")), true, false);
    stateRow->appendSubItem(1, text(language, text::kMainState), true, nullptr);
    const std::optional<bool> running = m_shell->probe(commands());
    if (running) {
        stateRow->appendSubItem(1, *running ? onText : offText, true, nullptr);
        m_daemonState = *running ? kOn : kOff;
    }
    m_statusBox->insertItem(stateRow, -1, true);

    const bool blacklist = keys::isBlacklistMode(setting(keys::kFirewallKey).toStdString());
    appendStatusRow("/images/list.png", text(language, text::kMainList),
                    text(language, blacklist ? text::kMainBlack : text::kMainWhite));
    const bool blockUnknown = keys::blocksUnknown(setting(keys::kBlockUnknownKey).toStdString());
    appendStatusRow("/images/number.png", text(language, text::kMenuUnknown), blockUnknown ? onText : offText);
}

void ZGui::appendStatusRow(const char *icon, const QString &label, const QString &value)
{
    auto *row = new ZListBoxItem(m_statusBox, QStringLiteral("%I%M"));
    row->setPixmap(0, image(QLatin1String(icon)), true, false);
    row->appendSubItem(1, label, true, nullptr);
    row->appendSubItem(1, value, true, nullptr);
    m_statusBox->insertItem(row, -1, true);
}

void ZGui::refreshStatus()
{
    reload(m_statusBox, &ZGui::CargarMain);
}

void ZGui::appClicked(ZListBoxItem *item)
{
    if (item == nullptr)
        return;
    // Copied: a refresh below deletes the item.
    const QString label = item->getSubItemText(1, 0, true);
    const auto labelOf = [this](const char *key) {
        ZConfig language(m_languagePath, false);
        return text(language, key);
    };
    if (label == labelOf(text::kMainState))
        ChangeState();
    if (label == labelOf(text::kMainList))
        ChangeList();
    if (label == labelOf(text::kMenuUnknown))
        blockUnk();
}

int ZGui::choose(const char *titleKey, const char *firstKey, const char *secondKey)
{
    ZConfig language(m_languagePath, false);
    ZSingleSelectDlg dialog(text(language, titleKey), QString(), nullptr, "ZSingleSelectDlg", true, 0, 0);
    dialog.addItemsList({text(language, firstKey), text(language, secondKey)});
    ZListBox *choices = dialog.getListBox();
    if (dialog.exec() != 1)
        return -1;
    for (int item = 0; item < 2; ++item) {
        if (choices->itemChecked(item))
            return item;
    }
    return -1;
}

void ZGui::ChangeState()
{
    const int choice = choose(text::kMainState, text::kOptionsEnable, text::kOptionsDisable);
    if (choice < 0)
        return;
    const bool on = choice == 0;
    bool started = false;
    if (on)
        started = m_shell->runStart(commands(), commands().switchOn());
    else
        m_shell->run(commands().switchOff());
    m_shell->awaitDaemon(m_storage.daemonSocket(), started);
    refreshStatus();
}

void ZGui::ChangeList()
{
    const int choice = choose(text::kMainList, text::kMainBlack, text::kMainWhite);
    if (choice >= 0)
        writeSetting(keys::kFirewallKey, choice == 0 ? keys::kBlacklistMode : keys::kWhitelistMode);
}

void ZGui::blockUnk()
{
    const int choice = choose(text::kMenuUnknown, text::kOptionsEnabled, text::kOptionsDisabled);
    if (choice >= 0)
        writeSetting(keys::kBlockUnknownKey, choice == 0 ? keys::kYes : keys::kNo);
}

void ZGui::writeSetting(const char *key, const char *value)
{
    m_settings.setValue(keys::kCallvaneGroup, key, value);
    QApplication::processEvents();
    restartDaemonIfOn();
    refreshStatus();
}

void ZGui::restartDaemonIfOn()
{
    if (m_daemonState == kOn)
        m_shell->runStart(commands(), commands().restart());
}

void ZGui::reload(ZListBox *box, void (ZGui::*loader)())
{
    // The box keeps the cursor's place.
    box->clear();
    (this->*loader)();
}

void ZGui::loadNumbers(const NumberList &list)
{
    const std::string_view stored = m_settings.valueView(list.group, keys::kNumKey).value_or("");
    this->*list.timesRead = m_settings.timesRead();
    appendNumbers(this->*list.box, stored);
}

void ZGui::appendNumbers(ZListBox *box, std::string_view numbers)
{
    const QPixmap icon = image(QStringLiteral("/images/number.png"));
    settingsstore::forEachListEntry(
        numbers, [box, &icon](std::string_view number) { box->insertItem(numberRow(box, icon, number), -1, true); });
}

void ZGui::CargarBlacklist()
{
    loadNumbers(kBlacklist);
}

void ZGui::CargarWhitelist()
{
    loadNumbers(kWhitelist);
}

void ZGui::addNumber(const NumberList &list)
{
    ZConfig language(m_languagePath, false);
    const QString title = redecodedTitle(text(language, text::kMainAdd));
    ZSingleCaptureDlg dialog(title, title, ZSingleCaptureDlg::TypeLineEdit, nullptr, "ZSingleCaptureDlg", true, 0, 0);
    dialog.getLineEdit()->setText(QString());
    dialog.getLineEdit()->setEdited(true);
    if (dialog.exec() != 1)
        return;
    const std::string number = dialog.getLineEdit()->text().toStdString();
    // Text with separators adds several rows, an empty one none.
    editNumbers(
        list, [&number](std::string_view stored) { return settingsstore::listWithAdded(stored, number); },
        [this, &number](ZListBox *box) { appendNumbers(box, number); });
}

void ZGui::removeNumber(const NumberList &list)
{
    const int index = (this->*list.box)->currentItem();
    if (index == -1)
        return;
    editNumbers(
        list, [index](std::string_view stored) { return settingsstore::listWithout(stored, size_t(index)); },
        [index](ZListBox *box) { box->removeItem(index); });
}

void ZGui::editNumbers(const NumberList &list, const std::function<std::string(std::string_view)> &edit,
                       const std::function<void(ZListBox *)> &showEdit)
{
    const std::string before = m_settings.value(list.group, keys::kNumKey, {});
    // Where the box shows the list as stored, the edit's own rows are all that change: at
    // 100,000 numbers an edit takes 1.9-2.8x one fsync'd write of the file, a refill 4.4-5.4x
    // (bench_lists, BM_EditBesidePeer).
    const bool shown = m_settings.timesRead() == this->*list.timesRead;
    const bool saved = m_settings.setValue(list.group, keys::kNumKey, edit(before));
    QApplication::processEvents();
    restartDaemonIfOn();
    if (saved && shown)
        showEdit(this->*list.box);
    else
        reload(this->*list.box, list.loader);
}

void ZGui::addNumber1()
{
    addNumber(kBlacklist);
}

void ZGui::addNumber2()
{
    addNumber(kWhitelist);
}

void ZGui::removeNumber1()
{
    removeNumber(kBlacklist);
}

void ZGui::removeNumber2()
{
    removeNumber(kWhitelist);
}

void ZGui::CargarLlamadas()
{
    std::string log;
    if (settingsstore::readFile(m_storage.blockedCalls(), log))
        appendCalls(log);
}

void ZGui::appendCalls(std::string_view log)
{
    ZConfig language(m_languagePath, false);
    const QString unknownText = text(language, text::kUnknownNumber);
    m_registerUnknownText = unknownText.toStdString();
    const QPixmap icon = image(QStringLiteral("/images/number.png"));
    firewall::calllog::forEachEntry(log, [&](std::string_view number, std::string_view detail) {
        auto *row = new ZListBoxItem(m_registerBox, QStringLiteral("%I%M"));
        row->setPixmap(0, icon, true, false);
        if (number == firewall::CallerId::kUnknown)
            row->appendSubItem(1, unknownText, true, nullptr);
        else
            row->appendSubItem(1, utf8(number));
        row->appendSubItem(1, utf8(detail));
        m_registerBox->insertItem(row, -1, true);
    });
}

void ZGui::removeCall()
{
    const int index = m_registerBox->currentItem();
    const ZListBoxItem *row = m_registerBox->item(index);
    if (row == nullptr)
        return;
    // The entry as the row shows it, its two lines as read. A number that reads as the unknown
    // caller's text is taken for a withheld one: the log's entry at that place then differs,
    // and no entry is removed unless one like it is found.
    const std::string &lines = row->utf8();
    const size_t end = std::min(lines.find('\n'), lines.size());
    firewall::calllog::Entry shown{lines.substr(0, end), lines.substr(std::min(end + 1, lines.size()))};
    if (shown.number == m_registerUnknownText)
        shown.number = firewall::CallerId::kUnknown;
    firewall::calllog::RemoveResult result =
        firewall::calllog::remove(m_storage.blockedCalls(), m_storage.blockedCallsLock(), size_t(index), shown);
    // The box shows the log as it now is, calls logged since the last load included.
    m_registerBox->clear();
    appendCalls(firewall::calllog::format(result.entries));
}

void ZGui::language()
{
    const control::Commands commands = this->commands();
    QString title;
    {
        ZConfig language(m_languagePath, false);
        title = text(language, text::kMenuLanguage);
    }
    ZSingleSelectDlg dialog(title, QString(), nullptr, "ZSingleSelectDlg", true, 0, 0);
    m_shell->run(commands.listLanguages());
    const QStringList files = readLines(QFile::decodeName(commands.languageListFile().c_str()));
    QStringList names;
    for (const QString &file : files) {
        ZConfig language(m_programDir + QStringLiteral("/languages/") + file, false);
        names.append(text(language, text::kLangName));
    }
    dialog.addItemsList(names);
    if (dialog.exec() == 1) {
        const int chosen = dialog.getCheckedItemIndex();
        if (chosen >= 0 && chosen < files.size())
            switchLanguage(files.at(chosen));
    }
    m_shell->run(commands.removeLanguageList());
}

void ZGui::switchLanguage(const QString &file)
{
    if (!m_settings.setValue(keys::kCallvaneGroup, keys::kLanguageKey, file.toStdString()))
        return; // the window goes on in the stored language
    m_languagePath = languageFile(file);
    QApplication::processEvents();
    Create_MenuApp();
    Create_SoftKey();
    nameTabs();
    reload(m_statusBox, &ZGui::CargarMain);
    reload(m_blacklistBox, &ZGui::CargarBlacklist);
    reload(m_whitelistBox, &ZGui::CargarWhitelist);
}
