#pragma once

#include <string>
#include <string_view>

// The daemon's instance lock file (Storage::daemonLock), written by the daemon that holds it
// and read by the next start and by the window: the holder's pid on the first line, then the
// lock's path as the holder opened it (a lock file linked into two storages names the other's).
// An older daemon wrote its pid alone.
namespace firewall::daemonlock {

std::string format(long pid, const std::string &path);
// The pid on the first line; 0 where there is none.
long pid(std::string_view text);
// Whether `text` was written for the lock at `path`: it names that path, or none.
bool writtenFor(std::string_view text, const std::string &path);

} // namespace firewall::daemonlock
