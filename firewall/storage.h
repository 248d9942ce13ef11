#pragma once

#include <string>

namespace firewall {

// The phone's user storage, where the daemon, its settings copy and its log live. Each program
// makes it once, at its start, and passes it on.
class Storage
{
public:
    static constexpr char kDefaultDir[] = "/ezxlocal/download/mystuff/";
    static constexpr char kDirVariable[] = "CALLVANE_STORAGE";

    // CALLVANE_STORAGE when set and not empty (a closing "/" is added, a relative path is taken
    // from the working directory), else the phone's path. A relative CALLVANE_STORAGE is made
    // absolute in the environment: the daemon changes to "/" and inherits it, and must still
    // name the same directory.
    static Storage fromEnvironment();
    // `dir` ends in "/".
    explicit Storage(std::string dir)
        : m_dir(std::move(dir))
    {
    }

    const std::string &dir() const { return m_dir; }
    std::string daemon() const { return m_dir + ".blacklist"; }
    std::string deployedSettings() const { return m_dir + ".Callvane.cfg"; }
    std::string blockedCalls() const { return m_dir + ".blockedcalls"; }
    std::string blockedCallsLock() const { return m_dir + ".blockedcalls.lock"; }
    std::string daemonLock() const { return m_dir + ".blacklist.lock"; }
    std::string daemonStarts() const { return m_dir + ".blacklist.starts"; }
    std::string keyCache() const { return m_dir + ".blacklist.keys"; }
    std::string callsPlaced() const { return m_dir + ".blacklist.calls"; }
    std::string daemonSocket() const { return m_dir + ".blacklist.sock"; }

private:
    std::string m_dir;
};

} // namespace firewall
