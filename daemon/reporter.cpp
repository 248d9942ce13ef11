#include "daemon/reporter.h"

#include <cstdio>
#include <syslog.h>

void Reporter::toSystemLog()
{
    ::openlog("blacklist", LOG_PID, LOG_DAEMON);
    m_systemLog = true;
}

void Reporter::report(const std::string &cause, const std::string &message)
{
    if (!m_active.insert(cause).second)
        return;
    std::fprintf(stderr, "blacklist: %s\n", message.c_str());
    if (m_systemLog)
        ::syslog(LOG_ERR, "%s", message.c_str());
}

void Reporter::resolved(const std::string &cause)
{
    m_active.erase(cause);
}

void Reporter::resolvedAll(const std::string &kind)
{
    for (auto it = m_active.lower_bound(kind); it != m_active.end() && it->compare(0, kind.size(), kind) == 0;)
        it = m_active.erase(it);
}
