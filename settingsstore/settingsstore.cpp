#include "settingsstore/settingsstore.h"

#include "settingsstore/atomicfile.h"

#include <sys/stat.h>

namespace control {

bool SettingsStore::Stamp::operator==(const Stamp &o) const
{
    return exists == o.exists && device == o.device && inode == o.inode && size == o.size && mtimeSec == o.mtimeSec
        && mtimeNsec == o.mtimeNsec && ctimeSec == o.ctimeSec && ctimeNsec == o.ctimeNsec;
}

SettingsStore::SettingsStore(std::string path)
    : m_path(std::move(path))
{
}

SettingsStore::Stamp SettingsStore::currentStamp() const
{
    Stamp stamp;
    struct stat st = {};
    if (::stat(m_path.c_str(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = static_cast<unsigned long long>(st.st_size);
    stamp.mtimeSec = st.st_mtim.tv_sec;
    stamp.mtimeNsec = st.st_mtim.tv_nsec;
    stamp.ctimeSec = st.st_ctim.tv_sec;
    stamp.ctimeNsec = st.st_ctim.tv_nsec;
    return stamp;
}

void SettingsStore::refresh()
{
    const Stamp stamp = currentStamp();
    if (m_read == stamp)
        return;
    std::string text;
    if (!stamp.exists || !readFile(m_path, text))
        text.clear();
    m_document = IniDocument::parse(text);
    m_read = stamp;
    ++m_readings;
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
        m_read.reset(); // the next read shows the disk, not the unsaved edit
        return false;
    }
    m_read = currentStamp();
    return true;
}

} // namespace control
