#pragma once

#include <chrono>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <string>

#include <systemd/sd-bus.h>

class Reporter;

// Incoming calls of ModemManager, on the system D-Bus (DBUS_SYSTEM_BUS_ADDRESS names another
// bus). Every modem's Voice.CallAdded is watched, whatever its path, so modems that come and
// go, and a ModemManager that restarts, need nothing. An incoming ringing call is screened
// with `screen` (its number; empty for a withheld one) once its number is known; a number
// that has not come within kNumberWait counts as withheld. A call `screen` blocks is hung up.
// Without a bus the daemon goes on with its socket alone, and tries again now and then.
class ModemWatcher
{
public:
    static constexpr std::chrono::milliseconds kNumberWait{500};
    static constexpr std::chrono::seconds kReconnectWait{5};

    // `screen` decides (and logs) a call: true when it is to be hung up.
    ModemWatcher(std::function<bool(const std::string &number)> screen, Reporter &reporter);
    ~ModemWatcher();
    ModemWatcher(const ModemWatcher &) = delete;
    ModemWatcher &operator=(const ModemWatcher &) = delete;

    using Clock = std::chrono::steady_clock;

    // For poll(): the descriptor (-1 while there is no bus), its events, and when process()
    // is due anyway (none: only when the descriptor is ready).
    int fd() const;
    short events() const;
    std::optional<Clock::time_point> dueAt() const;
    // Handles what came and what is due.
    void process();

private:
    void connect();
    void disconnect(const std::string &why);
    void query(const std::string &callPath);
    void screenCall(const std::string &callPath, const std::string &number);

    static int onCallAdded(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onPropertiesChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onProperties(sd_bus_message *message, void *query, sd_bus_error *error);
    static int onHangup(sd_bus_message *message, void *self, sd_bus_error *error);

    struct Query
    {
        ModemWatcher *watcher;
        std::string callPath;
    };

    std::function<bool(const std::string &)> m_screen;
    Reporter &m_reporter;
    sd_bus *m_bus = nullptr;
    Clock::time_point m_reconnectAt;
    std::list<Query> m_queries;
    // Incoming calls whose number has not come yet, and until when it may.
    std::map<std::string, Clock::time_point> m_waiting;
};
