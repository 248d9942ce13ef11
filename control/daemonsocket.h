#pragma once

#include <string>

struct sockaddr_un;

// The daemon's socket: a UNIX stream socket at storage + ".blacklist.sock". A caller writes
// one line (the number; empty or "unknown" for a call without one) and reads one line,
// "block" or "allow".
namespace control::daemonsocket {

inline constexpr char kBlock[] = "block";
inline constexpr char kAllow[] = "allow";

// False when `path` does not fit a socket address.
bool address(const std::string &path, sockaddr_un &out);
// A connected socket (close-on-exec), or -1 with errno set.
int connectTo(const std::string &path);

} // namespace control::daemonsocket
