#pragma once

#include <string>

// The phone's user storage, where the daemon, its settings copy and its log live.
namespace control::storage {

inline constexpr char kDefaultDir[] = "/ezxlocal/download/mystuff/";
inline constexpr char kDirVariable[] = "CALLVANE_STORAGE";

// CALLVANE_STORAGE when set and not empty (a closing "/" is added), else the phone's path.
std::string dir();

inline std::string daemonPath() { return dir() + ".blacklist"; }
inline std::string deployedSettingsPath() { return dir() + ".Callvane.cfg"; }
inline std::string blockedCallsPath() { return dir() + ".blockedcalls"; }
inline std::string blockedCallsLockPath() { return dir() + ".blockedcalls.lock"; }
inline std::string daemonLockPath() { return dir() + ".blacklist.lock"; }
inline std::string daemonSocketPath() { return dir() + ".blacklist.sock"; }

} // namespace control::storage
