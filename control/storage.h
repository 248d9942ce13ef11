#pragma once

#include <string>

// The phone's user storage, where the daemon, its settings copy and its log live.
namespace control::storage {

inline constexpr char kDefaultDir[] = "/ezxlocal/download/mystuff/";
inline constexpr char kDirVariable[] = "CALLVANE_STORAGE";

// CALLVANE_STORAGE when set and not empty (a closing "/" is added, a relative path is taken
// from the working directory), else the phone's path.
std::string dir();
// Makes a relative CALLVANE_STORAGE absolute in the environment, once at start: the daemon
// changes to "/" and inherits the variable, and must still name the same directory.
void resolve();

inline std::string daemonPath()
{
    return dir() + ".blacklist";
}
inline std::string deployedSettingsPath()
{
    return dir() + ".Callvane.cfg";
}
inline std::string blockedCallsPath()
{
    return dir() + ".blockedcalls";
}
inline std::string blockedCallsLockPath()
{
    return dir() + ".blockedcalls.lock";
}
inline std::string daemonLockPath()
{
    return dir() + ".blacklist.lock";
}
inline std::string keyCachePath()
{
    return dir() + ".blacklist.keys";
}
inline std::string daemonSocketPath()
{
    return dir() + ".blacklist.sock";
}

} // namespace control::storage
