#pragma once

#include "daemon/eventloop.h"

#include <chrono>
#include <string>
#include <sys/types.h>

class Reporter;
class SocketServer;

// Keeps the daemon reachable: if the socket file is removed or replaced, or its directory
// moved away and made again, the server listens on a new one at the same path.
class SocketKeeper
{
public:
    static constexpr std::chrono::milliseconds kRewatch{500};

    SocketKeeper(sd_event *loop, std::string path, SocketServer &server, Reporter &reporter);
    ~SocketKeeper();
    SocketKeeper(const SocketKeeper &) = delete;
    SocketKeeper &operator=(const SocketKeeper &) = delete;

private:
    // The watch follows the directory at the socket's path. False while there is none.
    bool watchDirectory();
    void keep();

    std::string m_path;
    SocketServer &m_server;
    Reporter &m_reporter;
    int m_watchFd = -1; // inotify on the socket's directory
    int m_watch = -1;
    dev_t m_dirDevice = 0;
    ino_t m_dirInode = 0;
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
    eventloop::Source m_changes;
    eventloop::Source m_rewatch; // armed while the directory is gone
};
