#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "daemon/runtime/bus.h"
#include "daemon/runtime/eventloop.h"
#include "daemon/runtime/reporter.h"
#include "firewall/callerid.h"

#include <systemd/sd-bus.h>

// The incoming calls of one telephony service on the system D-Bus (DBUS_SYSTEM_BUS_ADDRESS
// names another bus); a subclass speaks the service's interfaces. Only the current owner of
// the service's name is heard: when it appears (at start, or when the service starts or
// restarts) its calls already there are screened, and then each call it adds. An incoming
// call, ringing or waiting, is screened with `blocks` once its number is known or the service
// says it is withheld; a number that has not come within kNumberWait counts as withheld. A
// call `blocks` blocks is hung up, and `hungUp` is told once the service says it was, unless
// the same caller was hung up within kRingOn (a caller ringing on is one call; withheld ones,
// who cannot be told apart, within kWithheldRingsOn). `placed` is told of each call the owner
// places, once it is dialled, with its number. Without a bus the daemon goes on with
// its socket alone, and tries again now and then. The bus is served by the daemon's event loop.
class CallWatcher
{
public:
    // ModemManager may learn the number from its +CLCC poll only, every 2 s.
    static constexpr std::chrono::seconds kNumberWait{3};
    static constexpr std::chrono::seconds kRingOn{10};
    // A network that goes on ringing after a hang-up rings again within seconds; two withheld
    // callers a few seconds apart are two calls.
    static constexpr std::chrono::seconds kWithheldRingsOn{3};
    static constexpr std::chrono::seconds kReconnectWait{5};

    using Blocks = std::function<bool(const firewall::CallerId &caller)>;
    using HungUp = std::function<void(const firewall::CallerId &caller)>;
    // `emergency`: the service says it is an emergency call.
    using Placed = std::function<void(const std::string &number, bool emergency)>;

    // Who the service is on the bus.
    struct Service
    {
        const char *name; // its bus name
        const char *label; // as the owner knows it
        const char *callInterface; // whose Hangup() ends a call
        // How long after it came a waiting call may be hung up, not before.
        std::chrono::seconds waitingHangUpDelay;
    };

    // What the service says of a call; it may leave any of it unsaid.
    struct CallProperties
    {
        std::optional<bool> ringing; // incoming and not yet answered: ringing, or waiting
        bool waiting = false; // beside an active call
        std::string number; // empty while it is not known
        bool withheld = false;
        std::optional<bool> outgoing;
        bool dialled = false; // dialling, alerting or active: placed, if outgoing
        bool emergency = false;
    };

    virtual ~CallWatcher();
    CallWatcher(const CallWatcher &) = delete;
    CallWatcher &operator=(const CallWatcher &) = delete;

protected:
    struct Match
    {
        const char *rule;
        sd_bus_message_handler_t handler; // given the watcher
    };

    CallWatcher(sd_event *loop, const Service &service, std::vector<Match> matches, Blocks blocks, HungUp hungUp,
                Placed placed, Reporter &reporter);
    // Connects; called by the subclass once it is made.
    void start();
    // The service's owner appeared: find the calls it has.
    virtual void appeared() = 0;
    // Whether the service knows `number` as an emergency number (its SIM's), beside what it
    // says of a call.
    virtual bool isEmergencyNumber(const std::string & /*number*/) const { return false; }

    // Asks the service's owner; `onReply` is given the watcher. A question about a tracked call
    // (`callPath`) is let go with the call, any other with the owner.
    bool ask(const char *path, const char *interface, const char *member, sd_bus_message_handler_t onReply,
             const std::string &callPath = {}, const char *types = nullptr, const char *argument = nullptr);
    // The call whose question `reply` answers; none for a question of the owner's.
    std::optional<std::string> askedAbout(sd_bus_message *reply) const;
    // Whether `reply` is an error; if so, says that the service `did` not, with the error, once.
    bool failed(sd_bus_message *reply, Fault fault, const char *did) const;
    // Anyone on the bus may send a signal that looks like the service's.
    bool fromOwner(sd_bus_message *message) const;
    // A signal handler that gives `act`, a member of `Watcher`'s, the object path the signal
    // begins with, when the service's owner sent it.
    template <typename Watcher, auto act>
    static int withPath(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
    {
        auto &watcher = *static_cast<Watcher *>(self);
        const char *path = nullptr;
        if (watcher.fromOwner(message) && sd_bus_message_read(message, "o", &path) >= 0)
            (watcher.*act)(path);
        return 0;
    }
    // A call to screen; false when it is known already.
    bool track(const std::string &callPath);
    // Screens a tracked call by what the service says of it; a call stays unjudged until the
    // service says whether it rings.
    void updateCall(const std::string &callPath, const CallProperties &said);
    void forget(const std::string &callPath);
    void forgetCallsOf(const std::string &modemPath);

private:
    using Clock = eventloop::Clock;

    struct Call
    {
        enum class Stage { Asking, AwaitingNumber, ToHangUp, HangingUp, Done };
        Stage stage = Stage::Asking;
        bool waiting = false;
        Clock::time_point added;
        Clock::time_point due; // of the number, or of the hang-up
        firewall::CallerId caller;
        bus::Slot question{nullptr, sd_bus_slot_unref};
        bool removed = false; // by the service, while it hangs up: kept for the reply
        bool outgoing = false;
        bool dialled = false;
        bool emergency = false;
        std::string number; // the last the service said
        bool placed = false; // told
    };

    void connect();
    void disconnect(const std::string &why);
    // When a call's number or hang-up is due, or the next try to connect; none while nothing
    // is to be done but wait for the bus.
    std::optional<Clock::time_point> dueAt() const;
    void rearm();
    void handleDue();
    void setOwner(const std::string &owner);
    // `number` as the service gave it; empty for a withheld caller.
    void decide(const std::string &callPath, Call &call, std::string_view number);
    void hangUp(const std::string &callPath, Call &call);
    void hungUp(const firewall::CallerId &caller);
    // Tells `placed` of an outgoing call once it is dialled and its number known.
    void notePlaced(Call &call, const CallProperties &said);
    std::map<std::string, Call>::iterator drop(std::map<std::string, Call>::iterator call);

    static int onDisconnected(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onNameOwner(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onNameOwnerChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onHangup(sd_bus_message *message, void *self, sd_bus_error *error);

    const Service &m_service;
    std::vector<Match> m_matches;
    Blocks m_blocks;
    HungUp m_hungUp;
    Placed m_placed;
    Reporter &m_reporter;
    sd_event *m_loop;
    eventloop::Source m_due; // the timer of dueAt()
    eventloop::Source m_dispatched; // after each event the loop handled: dueAt() may have moved
    sd_bus *m_bus = nullptr; // attached to the loop
    bool m_lost = false; // the bus closed; let go of it outside its own dispatch
    Clock::time_point m_reconnectAt;
    std::string m_owner; // unique name of the service; empty while it is not there
    bool m_ownerKnown = false; // whether the owner was ever asked for and told
    std::vector<bus::Slot> m_questions; // of the owner's, let go with it
    std::map<std::string, Call> m_calls; // by D-Bus path, until the service deletes them
    std::map<std::string, Clock::time_point> m_recentlyHungUp; // by number
};
