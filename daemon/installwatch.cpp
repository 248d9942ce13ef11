#include "daemon/installwatch.h"

#include "settingsstore/atomicfile.h"

#include <climits>
#include <cstdlib>
#include <sys/inotify.h>
#include <unistd.h>

std::string InstallWatch::resolve(const char *installed)
{
    char real[PATH_MAX];
    if (installed == nullptr || *installed == '\0' || ::realpath(installed, real) == nullptr)
        return {};
    return real;
}

InstallWatch::InstallWatch(sd_event *loop, std::string path, std::function<void()> removed)
    : m_path(std::move(path))
    , m_removed(std::move(removed))
{
    if (m_path.empty())
        return;
    m_fd.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!m_fd.valid()
        || ::inotify_add_watch(m_fd.get(), settingsstore::directoryOf(m_path).c_str(),
                               IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR)
            < 0)
        return;
    m_changes = eventloop::io(loop, m_fd.get(), [this] { checkRemoved(); });
    m_recheck = eventloop::timer(loop, [this] { recheck(); });
    checkRemoved(); // gone since it was resolved
}

void InstallWatch::recheck()
{
    if (::access(m_path.c_str(), F_OK) != 0)
        m_removed();
}

void InstallWatch::checkRemoved()
{
    char events[4096];
    while (::read(m_fd.get(), events, sizeof events) > 0) { }
    int rechecking = SD_EVENT_OFF; // a recheck is due already
    if (m_recheck == nullptr
        || (sd_event_source_get_enabled(m_recheck.get(), &rechecking) >= 0 && rechecking != SD_EVENT_OFF)
        || ::access(m_path.c_str(), F_OK) == 0)
        return;
    if (!eventloop::armAt(m_recheck.get(), eventloop::Clock::now() + kRecheck))
        recheck(); // at once, rather than never
}
