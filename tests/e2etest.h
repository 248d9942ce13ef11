#pragma once

#include <QByteArrayList>
#include <QString>

#include <sys/types.h>
#include <vector>

// For tests that run real daemons. They run as PID 1 of a private PID namespace, so every
// ".blacklist" process they can see is one they started.
namespace e2etest {

// Called first in main(). As PID 1 of a PID namespace the process forks: the parent stays
// PID 1 and only reaps (as init does, so no zombie of a detached daemon shows in `ps`), the
// child runs the tests. Returns in the child; false when not in a namespace of our own.
bool runUnderInit();
bool inPrivatePidNamespace();

// Our running daemons: live processes named ".blacklist" that have detached (a start
// still on its way, and zombies, are left out); and their command lines.
std::vector<pid_t> daemonPids();
// The one daemon that runs; 0 when none or several do. One look, so a condition built on it
// cannot mix two moments.
pid_t soleDaemon();
QString commandLine(pid_t pid);
// SIGTERM to each of our daemons until they are gone.
void stopDaemons();

// Wall-clock bounds hold in the plain build only: the sanitizers slow some paths many times.
#ifdef __SANITIZE_ADDRESS__
inline constexpr bool kWallClockBounds = false;
#else
inline constexpr bool kWallClockBounds = true;
#endif

// Runs callvane-ring; its first output line ("block", "allow", or "" on an error).
QString ring(const QByteArray &number = {});

// True when a daemon accepts connections on the socket (nothing is asked).
bool daemonListens();

// Deploys the built daemon and `settings` as its settings copy to the storage directory, and
// starts it there in the foreground, as the window does, its stderr appended to `errorFile`:
// true once it has detached and listens.
bool deployAndStart(const QByteArray &settings, const QString &errorFile = "/dev/null");

struct Reply
{
    QByteArray data;
    bool closed = false; // the daemon closed the connection
};
// Sends raw bytes to the daemon's socket, piece by piece with a pause between (so that each
// arrives in a read of its own), and reads until it closes or `waitMs` passes.
Reply request(const QByteArrayList &pieces, int waitMs = 3000);

// A tmpfs at `dir` with room for the daemon and `spare` bytes, the storage directory while it
// lives; on its end the daemons are stopped and the storage is as before. Mounting needs a
// mount namespace of our own: where there is none, mounted() is false.
class SmallDisk
{
public:
    SmallDisk(const QString &dir, qint64 spare);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool mounted() const { return m_mounted; }
    // Fills the disk with the file `name`, written in pieces of `piece` bytes.
    void fill(const QString &name, int piece) const;

private:
    QByteArray m_dir;
    QByteArray m_savedStorage;
    bool m_mounted = false;
};

} // namespace e2etest
