#include "control/settingsstore.h"

#include "control/atomicfile.h"

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
    if (m_reading && m_reading->stamp == stamp)
        return;
    const auto shared = [this, &stamp] {
        std::shared_ptr<Reading> reading = s_readings[m_path].lock();
        return reading && reading->stamp == stamp ? reading : nullptr;
    };
    {
        const std::lock_guard<std::mutex> lock(s_readingsMutex);
        if ((m_reading = shared()))
            return;
    }
    // Read without the lock: a store of another file need not wait for this one.
    std::string text;
    if (!stamp.exists || !readFile(m_path, text))
        text.clear();
    // Not make_shared: the registry's weak pointer would keep the block.
    std::shared_ptr<Reading> reading(new Reading{stamp, IniDocument::parse(std::move(text))});
    const std::lock_guard<std::mutex> lock(s_readingsMutex);
    if ((m_reading = shared()))
        return; // another store read it meanwhile
    m_reading = std::move(reading);
    for (auto it = s_readings.begin(); it != s_readings.end();)
        it = it->second.expired() ? s_readings.erase(it) : std::next(it);
    s_readings[m_path] = m_reading;
}

SettingsStore::Reading &SettingsStore::ownReading()
{
    const std::lock_guard<std::mutex> lock(s_readingsMutex);
    if (m_reading.use_count() > 1)
        m_reading = std::make_shared<Reading>(*m_reading);
    else
        s_readings.erase(m_path); // no store can take it up while it is changed
    return *m_reading;
}

std::optional<std::string> SettingsStore::value(const std::string &group, const std::string &key)
{
    refresh();
    return m_reading->document.value(group, key);
}

std::string SettingsStore::value(const std::string &group, const std::string &key, const std::string &fallback)
{
    return value(group, key).value_or(fallback);
}

bool SettingsStore::setValue(const std::string &group, const std::string &key, const std::string &value)
{
    refresh();
    Reading &reading = ownReading();
    reading.document.setValue(group, key, value);
    const bool written = writeFileAtomically(m_path, reading.document.serialize());
    // After a failure the next read must show the disk, not the unsaved edit.
    if (!written) {
        m_reading.reset();
        return false;
    }
    reading.stamp = currentStamp();
    const std::lock_guard<std::mutex> lock(s_readingsMutex);
    s_readings[m_path] = m_reading;
    return true;
}

} // namespace control
