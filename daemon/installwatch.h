#pragma once

#include <chrono>
#include <optional>
#include <string>

// The installed daemon this one was deployed from (CALLVANE_INSTALLED, set by the launcher
// and the user unit). Once that file is gone for good the package was removed, and a firewall
// that no window can switch off any more stops too. An upgrade renames the new file over the
// old one, so the path is never missing then; a second look after kRecheck makes sure.
class InstallWatch
{
public:
    static constexpr std::chrono::seconds kRecheck{1};
    using Clock = std::chrono::steady_clock;

    // Nothing is watched for an empty path, or one that does not exist now.
    explicit InstallWatch(const char *installed);
    ~InstallWatch();
    InstallWatch(const InstallWatch &) = delete;
    InstallWatch &operator=(const InstallWatch &) = delete;

    const std::string &path() const { return m_path; }
    // For poll(): -1 when nothing is watched.
    int fd() const { return m_fd; }
    std::optional<Clock::time_point> dueAt() const { return m_recheckAt; }
    // Called when fd() is readable or dueAt() has come: true once the installed file is gone.
    bool removed();

private:
    std::string m_path;
    int m_fd = -1;
    std::optional<Clock::time_point> m_recheckAt;
};
