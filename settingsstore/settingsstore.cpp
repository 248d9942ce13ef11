#include "settingsstore/settingsstore.h"

#include "settingsstore/atomicfile.h"

#include <sys/stat.h>

namespace settingsstore {

SettingsStore::SettingsStore(std::string path)
    : m_path(std::move(path))
{
}

SettingsStore::FileVersion SettingsStore::fileVersion() const
{
    struct stat st = {};
    if (::stat(m_path.c_str(), &st) != 0)
        return {};
    return {st.st_dev,          st.st_ino,         st.st_size,        st.st_mtim.tv_sec,
            st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

void SettingsStore::refresh()
{
    const FileVersion version = fileVersion();
    if (m_versionRead == version)
        return;
    std::string text;
    if (!readFile(m_path, text))
        text.clear(); // none, or unreadable: empty
    m_document = IniDocument::parse(text);
    m_versionRead = version;
    ++m_timesRead;
}

std::optional<std::string> SettingsStore::value(const std::string &group, const std::string &key)
{
    refresh();
    return m_document.value(group, key);
}

std::optional<std::string_view> SettingsStore::valueView(const std::string &group, const std::string &key)
{
    refresh();
    return m_document.valueView(group, key);
}

std::string SettingsStore::value(const std::string &group, const std::string &key, const std::string &fallback)
{
    return value(group, key).value_or(fallback);
}

bool SettingsStore::setValue(const std::string &group, const std::string &key, const std::string &value)
{
    refresh();
    m_document.setValue(group, key, value);
    if (!writeFileAtomically(m_path, m_document.serialize())) {
        m_versionRead.reset(); // the next read shows the disk, not the unsaved edit
        return false;
    }
    m_versionRead = fileVersion();
    return true;
}

} // namespace settingsstore
