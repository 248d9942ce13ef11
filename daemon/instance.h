#pragma once

#include "daemon/runtime/reporter.h"
#include "settingsstore/uniquefd.h"

#include <string>

#include <sys/types.h>

// The one daemon of a storage directory. It holds an exclusive lock with its pid in it; the
// newest start takes over from a daemon that runs, so that a switch-on takes up what changed
// while the firewall was off.
class Instance
{
public:
    explicit Instance(const Reporter &reporter)
        : m_reporter(reporter)
    {
    }
    Instance(const Instance &) = delete;
    Instance &operator=(const Instance &) = delete;

    // cp cannot write over a running executable ("Text file busy"), so an upgrade deployed
    // while the daemon runs would never reach it. The daemon runs from a sealed copy in memory
    // instead (this execs it), and the deployed file stays free for the next deploy; where
    // that cannot be done, it runs from the deployed file as it is.
    static void runFromMemory(char **argv);

    // Of two starts under way the newer serves, whichever has read its settings first: each
    // start takes the next number in `path` (the storage's count of starts) before it reads
    // them, and gives way to any start with a higher one. Without a number (the file cannot
    // be written), the last to take over serves.
    void takeTicket(const std::string &path);
    // Whether a newer start is under way or serves.
    bool superseded() const;
    // After this daemon was stopped: whether a newer start came meanwhile, said when one did.
    bool givesWayAfterStop() const;

    // Takes the lock at `path`: this storage's daemon, when it holds it, is told to stop, and
    // killed when it does not let go in time (a stopped one cannot act on SIGTERM); nothing
    // else is. False, said, when it cannot take over; false, silently, when it is
    // superseded.
    bool lock(const std::string &path);
    // Forks; the parent returns to its caller (status 0) once the child has detached and named
    // itself in the lock, so that a script that starts the daemon in the foreground goes on
    // when calls can be answered. In the child, true.
    bool detach();
    // Lets go of the lock, so that the start that stops this daemon takes over at once.
    void release();

private:
    // Names the detached daemon in the lock file, for the start that will take over from it.
    void recordHolder();

    const Reporter &m_reporter;
    settingsstore::UniqueFd m_lockFd;
    std::string m_lockPath;
    settingsstore::UniqueFd m_ticketFd;
    off_t m_ticket = 0;
};
