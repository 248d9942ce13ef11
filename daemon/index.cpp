#include "daemon/index.h"

#include "daemon/runtime/reporter.h"
#include "firewall/keycache.h"
#include "settingsstore/atomicfile.h"
#include "settingsstore/inidocument.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <system_error>
#include <unistd.h>

std::optional<firewall::FirewallSettings> Index::readSettings(const std::string &path, Reporter &reporter)
{
    std::string text;
    if (!settingsstore::readFile(path, text)) {
        reporter.report(Fault::Settings,
                        "cannot read " + path + " (" + std::strerror(errno)
                            + "); not starting without the firewall's settings");
        return std::nullopt;
    }
    const settingsstore::IniDocument document = settingsstore::IniDocument::parse(text);
    if (const size_t stray = document.strayLines(); stray > 0) {
        reporter.report(Fault::Settings,
                        path + " is damaged: " + std::to_string(stray) + " lines are not settings and are ignored");
    }
    firewall::FirewallSettings settings = firewall::FirewallSettings::read(document);
    for (const std::string &entry : settings.unreadable) {
        std::string message = path;
        message.append(": \"").append(entry).append("\" is no whole number of 0 to a year; the default serves");
        reporter.report(Fault::Settings, message, entry);
    }
    return settings;
}

Index::Index(firewall::FirewallSettings &settings, const std::string &region, std::string keyCachePath)
    : m_region(region)
    , m_keyCachePath(std::move(keyCachePath))
    , m_screen(indexed(settings, region, m_keyCachePath, m_toSave))
{
}

void Index::reindex(firewall::FirewallSettings &settings, const std::string &region)
{
    m_region = region;
    m_toSave.reset();
    m_screen = indexed(settings, region, m_keyCachePath, m_toSave);
}

Index::~Index()
{
    if (m_saver.joinable())
        m_saver.join();
}

firewall::CallScreen Index::indexed(firewall::FirewallSettings &settings, const std::string &region,
                                    const std::string &keyCachePath, std::optional<KeysToSave> &toSave)
{
    std::vector<std::string> &entries = settings.blacklistMode ? settings.blacklist : settings.whitelist;
    if (entries.empty()) {
        toSave.emplace();
        return {settings, region};
    }
    const firewall::keycache::Keys known = firewall::keycache::load(keyCachePath, region);
    std::vector<std::uint64_t> keys;
    firewall::CallScreen screen(settings, region, &known, &keys);
    if (screen.parsed() > 0 || known.size() != keys.size())
        toSave = KeysToSave{std::move(entries), std::move(keys)};
    return screen;
}

void Index::saveKeysInBackground()
{
    if (!m_toSave)
        return;
    const auto save = [this] {
        if (m_toSave->entries.empty())
            ::unlink(m_keyCachePath.c_str());
        else
            firewall::keycache::save(m_keyCachePath, m_region, m_toSave->entries, m_toSave->keys);
        m_toSave.reset();
        ::malloc_trim(0);
    };
    try {
        m_saver = std::thread(save);
    } catch (const std::system_error &) {
        save(); // no thread to be had: here and now
    }
}
