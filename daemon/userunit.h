#pragma once

#include <string>

class Reporter;

// The firewall as a systemd user unit. A start from the window becomes a restart of the unit,
// so that the daemon runs in it: the user manager and the window agree on whether it runs, and
// the unit's enablement (its own start and stop keep it) is the owner's choice at the session's
// next start.
class UserUnit
{
public:
    // The installed unit file, set by the launcher for the window's daemons in the storage that
    // the unit serves; never for the unit's own.
    static constexpr char kVariable[] = "CALLVANE_UNIT";

    enum class Outcome {
        Started, // the unit's daemon serves
        Failed, // the unit's start failed, as the user manager says
        NotThere, // no user manager, or it would not start the unit: the daemon runs by itself
    };

    // Restarts the unit of `file`, first linking the file into the user's units where the
    // manager does not know it by name (an install outside its search path), and waits for
    // the start to end.
    static Outcome restart(const std::string &file, const Reporter &reporter);
};
