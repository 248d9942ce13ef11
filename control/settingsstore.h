#pragma once

#include "control/inidocument.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace control {

// One INI file on disk, read lazily and written through.
//
// Every read sees the file as it is now: when another writer has replaced it since the last
// read, it is parsed again. Every write re-reads the current file, changes one value and
// replaces the file atomically before it returns, so several stores may be open on the same
// file and none loses what another wrote. A missing or unreadable file reads as empty.
//
// Stores open on the same path at the same time share one reading of it while the file is
// unchanged: a window that opens the settings once for each tab parses them once.
class SettingsStore
{
public:
    explicit SettingsStore(std::string path);

    const std::string &path() const { return m_path; }
    std::optional<std::string> value(const std::string &group, const std::string &key);
    std::string value(const std::string &group, const std::string &key, const std::string &fallback);
    // False when the file could not be replaced; the file on disk is then as it was.
    bool setValue(const std::string &group, const std::string &key, const std::string &value);

private:
    struct Stamp
    {
        bool exists = false;
        unsigned long long device = 0, inode = 0, size = 0;
        long long mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
        bool operator==(const Stamp &o) const;
    };
    // A reading of the file; shared only while no store changes it.
    struct Reading
    {
        Stamp stamp;
        IniDocument document;
    };
    Stamp currentStamp() const;
    void refresh();
    // This store's reading, to change: its own, or a copy when other stores share it.
    Reading &ownReading();

    std::string m_path;
    std::shared_ptr<Reading> m_reading;

    // The readings that stores now hold, by path.
    inline static std::mutex s_readingsMutex;
    inline static std::map<std::string, std::weak_ptr<Reading>> s_readings;
};

} // namespace control
