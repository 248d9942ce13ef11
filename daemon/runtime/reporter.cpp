#include "daemon/runtime/reporter.h"

#include <cstdio>
#include <syslog.h>

void Reporter::toSystemLog()
{
    ::openlog("blacklist", LOG_PID, LOG_DAEMON);
    m_systemLog = true;
}

void Reporter::report(Fault fault, const std::string &message, const std::string &detail)
{
    if (m_active.emplace(fault, detail).second)
        say(LOG_ERR, message);
}

void Reporter::inform(const std::string &message) const
{
    say(LOG_INFO, message);
}

void Reporter::error(const std::string &message) const
{
    say(LOG_ERR, message);
}

void Reporter::say(int priority, const std::string &message) const
{
    std::fprintf(stderr, "blacklist: %s\n", message.c_str());
    if (m_systemLog)
        ::syslog(priority, "%s", message.c_str());
}

void Reporter::resolved(Fault fault)
{
    for (auto it = m_active.lower_bound({fault, {}}); it != m_active.end() && it->first == fault;)
        it = m_active.erase(it);
}

void Reporter::resolved(Fault fault, const std::string &detail)
{
    m_active.erase({fault, detail});
}
