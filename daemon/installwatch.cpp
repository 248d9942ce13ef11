#include "daemon/installwatch.h"

#include <climits>
#include <cstdlib>
#include <sys/inotify.h>
#include <unistd.h>

InstallWatch::InstallWatch(const char *installed)
{
    char real[PATH_MAX];
    if (installed == nullptr || *installed == '\0' || ::realpath(installed, real) == nullptr)
        return;
    m_path = real;
    const std::string dir = m_path.substr(0, m_path.rfind('/') + 1);
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd >= 0
        && ::inotify_add_watch(m_fd, dir.c_str(),
                               IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR)
            < 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

InstallWatch::~InstallWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InstallWatch::removed()
{
    char events[4096];
    while (m_fd >= 0 && ::read(m_fd, events, sizeof events) > 0) { }
    const bool missing = ::access(m_path.c_str(), F_OK) != 0;
    if (m_recheckAt && Clock::now() >= *m_recheckAt) {
        m_recheckAt.reset();
        return missing;
    }
    if (missing && !m_recheckAt)
        m_recheckAt = Clock::now() + kRecheck;
    return false;
}
