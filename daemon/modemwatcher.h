#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <string>

#include "daemon/eventloop.h"
#include "firewall/callerid.h"

#include <systemd/sd-bus.h>

class Reporter;

// Incoming calls of ModemManager, on the system D-Bus (DBUS_SYSTEM_BUS_ADDRESS names another
// bus). Only the current owner of ModemManager's name is heard: when it appears (at start, or
// when ModemManager starts or restarts) its calls already there are screened, and then each
// call its modems add, whatever the modem's path. An incoming call, ringing or waiting, is
// screened with `blocks` once its number is known; a number that has not come within kNumberWait counts as withheld. A
// call `blocks` blocks is hung up, and `hungUp` is told once ModemManager says it was, unless
// the same caller was hung up within kRingOn (a caller ringing on is one call; withheld ones,
// who cannot be told apart, within kWithheldRingsOn). Without a bus
// the daemon goes on with its socket alone, and tries again now and then. The bus is served
// by the daemon's event loop.
class ModemWatcher
{
public:
    // ModemManager may learn the number from its +CLCC poll only, every 2 s.
    static constexpr std::chrono::seconds kNumberWait{3};
    // Hung up before that poll, a waiting call has no index yet, and ModemManager would send
    // AT+CHUP, which on many modems ends the user's active call too.
    static constexpr std::chrono::seconds kIndexWait{3};
    static constexpr std::chrono::seconds kRingOn{10};
    // A network that goes on ringing after a hang-up rings again within seconds; two withheld
    // callers a few seconds apart are two calls.
    static constexpr std::chrono::seconds kWithheldRingsOn{3};
    static constexpr std::chrono::seconds kReconnectWait{5};

    ModemWatcher(sd_event *loop, std::function<bool(const control::CallerId &caller)> blocks,
                 std::function<void(const control::CallerId &caller)> hungUp, Reporter &reporter);
    ~ModemWatcher();
    // The operator code (MCC and MNC) of the home network of the SIM in a modem of
    // ModemManager's (a phone abroad reads its owner's numbers as its own country's), else of
    // the network the modem is on; asked once, each answer waited for at most `wait`; "" when
    // none is known.
    static std::string operatorCode(std::chrono::milliseconds wait);
    ModemWatcher(const ModemWatcher &) = delete;
    ModemWatcher &operator=(const ModemWatcher &) = delete;

private:
    using Clock = eventloop::Clock;

    struct Call
    {
        enum class Stage { Asking, AwaitingNumber, ToHangUp, HangingUp, Done };
        Stage stage = Stage::Asking;
        bool waiting = false; // beside an active call
        Clock::time_point added;
        Clock::time_point due; // of the number, or of the hang-up
        control::CallerId caller;
    };

    // A method call on its way: replies to a former owner of the name are dropped.
    struct Query
    {
        ModemWatcher *watcher;
        std::string callPath;
        uint64_t epoch;
        control::CallerId caller; // of a call being hung up: ModemManager may delete it before it replies
    };

    void connect();
    void disconnect(const std::string &why);
    // When a call's number or hang-up is due, or the next try to connect; none while nothing
    // is to be done but wait for the bus.
    std::optional<Clock::time_point> dueAt() const;
    void rearm();
    void handleDue();
    bool ask(const char *path, const char *interface, const char *member, sd_bus_message_handler_t onReply,
             const std::string &callPath, const char *types = nullptr, const char *argument = nullptr);
    void setOwner(const std::string &owner);
    bool fromOwner(sd_bus_message *message) const;
    void track(const std::string &callPath);
    // `number` as the modem gave it; empty for a withheld caller.
    void decide(const std::string &callPath, Call &call, std::string_view number);
    void hangUp(const std::string &callPath, Call &call);
    void hungUp(const control::CallerId &caller);
    // The query a reply belongs to, taken off the list; null when it is stale.
    static std::optional<Query> answered(void *query);

    static int onDisconnected(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onNameOwner(sd_bus_message *message, void *query, sd_bus_error *error);
    static int onNameOwnerChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onManagedObjects(sd_bus_message *message, void *query, sd_bus_error *error);
    static int onCallAdded(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onCallDeleted(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onPropertiesChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onProperties(sd_bus_message *message, void *query, sd_bus_error *error);
    static int onHangup(sd_bus_message *message, void *query, sd_bus_error *error);

    std::function<bool(const control::CallerId &)> m_blocks;
    std::function<void(const control::CallerId &)> m_hungUp;
    Reporter &m_reporter;
    sd_event *m_loop;
    eventloop::Source m_due; // the timer of dueAt()
    eventloop::Source m_dispatched; // after each event the loop handled: dueAt() may have moved
    sd_bus *m_bus = nullptr; // attached to the loop
    bool m_lost = false; // the bus closed; let go of it outside its own dispatch
    Clock::time_point m_reconnectAt;
    std::string m_owner; // unique name of ModemManager; empty while it is not there
    uint64_t m_epoch = 0; // counts the owners seen
    std::list<Query> m_queries;
    std::map<std::string, Call> m_calls; // by D-Bus path, until ModemManager deletes them
    std::map<std::string, Clock::time_point> m_recentlyHungUp; // by number
};
