#pragma once

#include "settingsstore/inidocument.h"

#include <optional>
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
    // The same without a copy, valid until the store is next used.
    std::optional<std::string_view> valueView(const std::string &group, const std::string &key);
    // False when the file could not be replaced; the file on disk is then as it was.
    bool setValue(const std::string &group, const std::string &key, const std::string &value);
    // How often the file was read. A value read at reading N is what is stored while this is
    // still N, this store's own writes included.
    size_t readings() const { return m_readings; }

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
    std::optional<Stamp> m_read; // of the file m_document was read from
    IniDocument m_document;
    size_t m_readings = 0;
};

} // namespace control
