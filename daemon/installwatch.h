#pragma once

#include "daemon/runtime/eventloop.h"
#include "settingsstore/uniquefd.h"

#include <chrono>
#include <functional>
#include <string>

// The installed daemon this one was deployed from (CALLVANE_INSTALLED, set by the launcher
// and the user unit). Once that file is gone for good the package was removed, and a firewall
// that no window can switch off any more stops too. An upgrade renames the new file over the
// old one, so the path is never missing then; a second look after kRecheck makes sure.
class InstallWatch
{
public:
    static constexpr std::chrono::seconds kRecheck{1};

    // The installed file's real path, or empty when there is none. Resolved before the
    // daemon detaches (a relative path is the starter's).
    static std::string resolve(const char *installed);

    // Nothing is watched for an empty path. `removed` is told once the file is gone.
    InstallWatch(sd_event *loop, std::string path, std::function<void()> removed);
    InstallWatch(const InstallWatch &) = delete;
    InstallWatch &operator=(const InstallWatch &) = delete;

    const std::string &path() const { return m_path; }

private:
    void checkRemoved();
    void recheck();

    std::string m_path;
    std::function<void()> m_removed;
    settingsstore::UniqueFd m_fd;
    eventloop::Source m_changes;
    eventloop::Source m_recheck;
};
