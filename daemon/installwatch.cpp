#include "daemon/installwatch.h"

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
    const std::string dir = m_path.substr(0, m_path.rfind('/') + 1);
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0
        || ::inotify_add_watch(m_fd, dir.c_str(),
                               IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR)
            < 0)
        return;
    m_changes = eventloop::io(loop, m_fd, EPOLLIN, onChange, this);
    m_recheck = eventloop::timer(loop, onRecheck, this);
}

InstallWatch::~InstallWatch()
{
    m_changes.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

int InstallWatch::onChange(sd_event_source * /*source*/, int /*fd*/, uint32_t /*events*/, void *self)
{
    auto &watch = *static_cast<InstallWatch *>(self);
    char events[4096];
    while (::read(watch.m_fd, events, sizeof events) > 0) { }
    watch.look();
    return 0;
}

int InstallWatch::onRecheck(sd_event_source * /*source*/, uint64_t /*usec*/, void *self)
{
    auto &watch = *static_cast<InstallWatch *>(self);
    watch.m_rechecking = false;
    if (::access(watch.m_path.c_str(), F_OK) != 0)
        watch.m_removed();
    return 0;
}

void InstallWatch::look()
{
    if (m_rechecking || ::access(m_path.c_str(), F_OK) == 0 || m_recheck == nullptr)
        return;
    m_rechecking = true;
    eventloop::armAt(m_recheck.get(), eventloop::Clock::now() + kRecheck);
}
