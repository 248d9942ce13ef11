#pragma once

#include "control/inidocument.h"

#include <string>

namespace control {

// One INI file on disk, read lazily and written through.
//
// Every read sees the file as it is now: when another writer has replaced it since the last
// read, it is parsed again. Every write re-reads the current file, changes one value and
// replaces the file atomically before it returns, so several stores may be open on the same
// file and none loses what another wrote. A missing or unreadable file reads as empty.
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
    Stamp currentStamp() const;
    void refresh();

    std::string m_path;
    IniDocument m_document;
    Stamp m_stamp;
    bool m_loaded = false;
};

} // namespace control
