#pragma once

#include "settingsstore/inidocument.h"

#include <optional>
#include <string>
#include <tuple>

#include <sys/types.h>

namespace settingsstore {

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

    // How often the file was read. A value read at read N is what is stored while this is
    // still N, this store's own writes included.
    size_t timesRead() const { return m_timesRead; }

private:
    // What tells one version of the file from another: its identity, size and times (all
    // zero: no file).
    using FileVersion = std::tuple<dev_t, ino_t, off_t, time_t, long, time_t, long>;
    FileVersion fileVersion() const;
    void refresh();

    std::string m_path;
    std::optional<FileVersion> m_versionRead; // of the file m_document was read from
    IniDocument m_document;
    size_t m_timesRead = 0;
};

} // namespace settingsstore
