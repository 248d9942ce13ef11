#pragma once

#include <string>

// The daemon's socket: a UNIX stream socket at storage + ".blacklist.sock". A caller writes
// one line (the number; empty or "unknown" for a call without one) and reads one line,
// "block" or "allow".
namespace firewall::daemonsocket {

inline constexpr char kBlock[] = "block";
inline constexpr char kAllow[] = "allow";

// A path of any length will do (see daemonsocket.cpp).
// A listening, non-blocking socket (close-on-exec) at `path`, which only the owner may
// connect to; whatever was at `path` is replaced. -1 with errno set on failure.
int listenAt(const std::string &path);
// A connected socket (close-on-exec), or -1 with errno set.
int connectTo(const std::string &path);

} // namespace firewall::daemonsocket
