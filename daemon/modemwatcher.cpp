#include "daemon/modemwatcher.h"

#include "daemon/reporter.h"

#include <algorithm>

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr char kService[] = "org.freedesktop.ModemManager1";
constexpr char kRoot[] = "/org/freedesktop/ModemManager1";
constexpr char kVoice[] = "org.freedesktop.ModemManager1.Modem.Voice";
constexpr char kCall[] = "org.freedesktop.ModemManager1.Call";
constexpr char k3gpp[] = "org.freedesktop.ModemManager1.Modem.Modem3gpp";
constexpr char kModem[] = "org.freedesktop.ModemManager1.Modem";
constexpr char kSim[] = "org.freedesktop.ModemManager1.Sim";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";
constexpr char kObjectManager[] = "org.freedesktop.DBus.ObjectManager";
constexpr char kBusDriver[] = "org.freedesktop.DBus";
constexpr size_t kMaxCalls = 1024;

// ModemManager's MMCallDirection and MMCallState.
constexpr int kIncoming = 1;
constexpr int kRingingIn = 3;
constexpr int kWaiting = 6;

struct CallProperties
{
    bool hasNumber = false;
    std::string number;
    bool hasDirection = false;
    int direction = 0;
    bool hasState = false;
    int state = 0;
};

// Reads an a{sv} of Call properties; false on a malformed message.
bool readProperties(sd_bus_message *message, CallProperties &out)
{
    if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0)
        return false;
    int entered = 0;
    while ((entered = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char *key = nullptr;
        if (sd_bus_message_read(message, "s", &key) < 0)
            return false;
        int read = 0;
        if (std::strcmp(key, "Number") == 0) {
            const char *number = nullptr;
            read = sd_bus_message_read(message, "v", "s", &number);
            out.hasNumber = read >= 0;
            out.number = number != nullptr ? number : "";
        } else if (std::strcmp(key, "Direction") == 0) {
            read = sd_bus_message_read(message, "v", "i", &out.direction);
            out.hasDirection = read >= 0;
        } else if (std::strcmp(key, "State") == 0) {
            read = sd_bus_message_read(message, "v", "i", &out.state);
            out.hasState = read >= 0;
        } else {
            read = sd_bus_message_skip(message, "v");
        }
        if (read < 0 || sd_bus_message_exit_container(message) < 0)
            return false;
    }
    return entered >= 0 && sd_bus_message_exit_container(message) >= 0;
}

// Reads, with `readValue`, the variant of `property` of every object's `interface` in a
// GetManagedObjects reply (a{oa{sa{sv}}}); false on a malformed message.
bool readManagedProperty(sd_bus_message *message, const char *interface, const char *property,
                         const std::function<bool(sd_bus_message *)> &readValue)
{
    if (sd_bus_message_enter_container(message, 'a', "{oa{sa{sv}}}") < 0)
        return false;
    while (sd_bus_message_enter_container(message, 'e', "oa{sa{sv}}") > 0) {
        if (sd_bus_message_skip(message, "o") < 0 || sd_bus_message_enter_container(message, 'a', "{sa{sv}}") < 0)
            return false;
        while (sd_bus_message_enter_container(message, 'e', "sa{sv}") > 0) {
            const char *name = nullptr;
            if (sd_bus_message_read(message, "s", &name) < 0)
                return false;
            if (std::strcmp(name, interface) != 0) {
                if (sd_bus_message_skip(message, "a{sv}") < 0)
                    return false;
            } else {
                if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0)
                    return false;
                while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
                    const char *key = nullptr;
                    if (sd_bus_message_read(message, "s", &key) < 0)
                        return false;
                    const bool read =
                        std::strcmp(key, property) != 0 ? sd_bus_message_skip(message, "v") >= 0 : readValue(message);
                    if (!read || sd_bus_message_exit_container(message) < 0)
                        return false;
                }
                if (sd_bus_message_exit_container(message) < 0)
                    return false;
            }
            if (sd_bus_message_exit_container(message) < 0)
                return false;
        }
        if (sd_bus_message_exit_container(message) < 0 || sd_bus_message_exit_container(message) < 0)
            return false;
    }
    return true;
}

// The "Calls" of every Voice interface in a GetManagedObjects reply.
bool readVoiceCalls(sd_bus_message *message, std::vector<std::string> &calls)
{
    return readManagedProperty(message, kVoice, "Calls", [&calls](sd_bus_message *value) {
        if (sd_bus_message_enter_container(value, 'v', "ao") < 0 || sd_bus_message_enter_container(value, 'a', "o") < 0)
            return false;
        const char *call = nullptr;
        while (sd_bus_message_read(value, "o", &call) > 0)
            calls.emplace_back(call);
        return sd_bus_message_exit_container(value) >= 0 && sd_bus_message_exit_container(value) >= 0;
    });
}

} // namespace

ModemWatcher::ModemWatcher(sd_event *loop, std::function<bool(const control::CallerId &caller)> blocks,
                           std::function<void(const control::CallerId &caller)> hungUp, Reporter &reporter)
    : m_blocks(std::move(blocks))
    , m_hungUp(std::move(hungUp))
    , m_reporter(reporter)
    , m_loop(loop)
    , m_due(eventloop::timer(loop, [this] { handleDue(); }))
    , m_dispatched(eventloop::post(loop, [this] { rearm(); }))
{
    connect();
    rearm();
}

std::string ModemWatcher::operatorCode(std::chrono::milliseconds wait)
{
    sd_bus *bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
        return {};
    const std::unique_ptr<sd_bus, decltype(&sd_bus_flush_close_unref)> owned(bus, sd_bus_flush_close_unref);
    // A ModemManager that is not running is not started for this.
    const auto ask = [bus, wait](const char *path, const char *interface, const char *member,
                                 const std::function<bool(sd_bus_message *)> &arguments) {
        sd_bus_message *call = nullptr;
        sd_bus_message *reply = nullptr;
        if (sd_bus_message_new_method_call(bus, &call, kService, path, interface, member) < 0
            || sd_bus_message_set_auto_start(call, 0) < 0 || !arguments(call)
            || sd_bus_call(bus, call, std::chrono::microseconds(wait).count(), nullptr, &reply) < 0)
            reply = nullptr;
        sd_bus_message_unref(call);
        return std::unique_ptr<sd_bus_message, decltype(&sd_bus_message_unref)>(reply, sd_bus_message_unref);
    };
    const auto firstOf = [](const char *type, std::string &into) {
        return [type, &into](sd_bus_message *value) {
            const char *text = nullptr;
            if (sd_bus_message_read(value, "v", type, &text) < 0)
                return false;
            if (into.empty() && text != nullptr)
                into = text;
            return true;
        };
    };
    const auto managed = ask(kRoot, kObjectManager, "GetManagedObjects", [](sd_bus_message *) { return true; });
    std::string network;
    std::string sim;
    if (!managed || !readManagedProperty(managed.get(), k3gpp, "OperatorCode", firstOf("s", network))
        || sd_bus_message_rewind(managed.get(), 1) < 0
        || !readManagedProperty(managed.get(), kModem, "Sim", firstOf("o", sim)) || sim.empty() || sim == "/")
        return network;
    const auto simProperty = [&](const char *name) {
        std::string value;
        const auto reply = ask(sim.c_str(), kProperties, "Get", [name](sd_bus_message *call) {
            return sd_bus_message_append(call, "ss", kSim, name) >= 0;
        });
        if (reply)
            firstOf("s", value)(reply.get());
        return value;
    };
    // Where the SIM's files do not say how long its MNC is, its MCC still names the country.
    std::string home = simProperty("OperatorIdentifier");
    if (home.empty())
        home = simProperty("Imsi").substr(0, 5);
    return home.size() >= 5 ? home : network;
}

ModemWatcher::~ModemWatcher()
{
    disconnect({});
}

void ModemWatcher::connect()
{
    sd_bus *bus = nullptr;
    int result = sd_bus_open_system(&bus);
    const auto match = [&](const char *rule, sd_bus_message_handler_t handler) {
        if (result >= 0)
            result = sd_bus_add_match_async(bus, nullptr, rule, handler, nullptr, this);
    };
    match("type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
          "arg0='org.freedesktop.ModemManager1'",
          onNameOwnerChanged);
    match("type='signal',interface='org.freedesktop.ModemManager1.Modem.Voice',member='CallAdded'", onCallAdded);
    match("type='signal',interface='org.freedesktop.ModemManager1.Modem.Voice',member='CallDeleted'", onCallDeleted);
    match("type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
          "arg0='org.freedesktop.ModemManager1.Call'",
          onPropertiesChanged);
    // Said by sd-bus itself, not the bus: never sent to the bus as a match.
    match("type='signal',path='/org/freedesktop/DBus/Local',interface='org.freedesktop.DBus.Local',"
          "member='Disconnected'",
          onDisconnected);
    if (result >= 0)
        result = sd_bus_attach_event(bus, m_loop, SD_EVENT_PRIORITY_NORMAL);
    if (result < 0) {
        sd_bus_flush_close_unref(bus);
        m_reconnectAt = Clock::now() + kReconnectWait;
        m_reporter.report(Fault::Bus,
                          std::string("no system D-Bus (") + std::strerror(-result)
                              + "): calls from ModemManager are not screened, only those on the socket");
        return;
    }
    m_bus = bus;
    m_reporter.resolved(Fault::Bus);
    // Asked after the match is set, so that no change of owner falls between the two.
    Query &query = m_queries.emplace_back(Query{this, {}, m_epoch, {}});
    if (sd_bus_call_method_async(m_bus, nullptr, kBusDriver, "/org/freedesktop/DBus", kBusDriver, "GetNameOwner",
                                 onNameOwner, &query, "s", kService)
        < 0)
        m_queries.pop_back();
}

void ModemWatcher::disconnect(const std::string &why)
{
    if (m_bus == nullptr)
        return;
    m_bus = sd_bus_flush_close_unref(m_bus);
    m_lost = false;
    m_queries.clear();
    m_calls.clear();
    m_owner.clear();
    ++m_epoch;
    m_reconnectAt = Clock::now() + std::chrono::seconds(1);
    if (!why.empty())
        m_reporter.report(Fault::Bus, "lost the system D-Bus (" + why + "); connecting again");
}

std::optional<ModemWatcher::Clock::time_point> ModemWatcher::dueAt() const
{
    if (m_bus == nullptr || m_lost)
        return m_lost ? Clock::now() : m_reconnectAt;
    std::optional<Clock::time_point> due;
    for (const auto &[path, call] : m_calls) {
        if (call.stage == Call::Stage::AwaitingNumber || call.stage == Call::Stage::ToHangUp)
            due = due ? std::min(*due, call.due) : call.due;
    }
    return due;
}

void ModemWatcher::rearm()
{
    if (m_due == nullptr)
        return;
    if (const auto due = dueAt())
        eventloop::armAt(m_due.get(), *due);
    else
        eventloop::disarm(m_due.get());
}

int ModemWatcher::onDisconnected(sd_bus_message * /*message*/, void *self, sd_bus_error * /*error*/)
{
    static_cast<ModemWatcher *>(self)->m_lost = true;
    return 0;
}

void ModemWatcher::handleDue()
{
    if (m_lost)
        disconnect("the bus closed the connection");
    if (m_bus == nullptr) {
        if (Clock::now() >= m_reconnectAt)
            connect();
        return;
    }
    const auto now = Clock::now();
    for (auto &[path, call] : m_calls) {
        if (now < call.due)
            continue;
        if (call.stage == Call::Stage::AwaitingNumber)
            decide(path, call, {}); // the number did not come: withheld
        else if (call.stage == Call::Stage::ToHangUp)
            hangUp(path, call);
    }
}

bool ModemWatcher::ask(const char *path, const char *interface, const char *member, sd_bus_message_handler_t onReply,
                       const std::string &callPath, const char *types, const char *argument)
{
    Query &query = m_queries.emplace_back(Query{this, callPath, m_epoch, {}});
    if (sd_bus_call_method_async(m_bus, nullptr, kService, path, interface, member, onReply, &query, types, argument)
        >= 0)
        return true;
    m_queries.pop_back();
    return false;
}

std::optional<ModemWatcher::Query> ModemWatcher::answered(void *query)
{
    auto *pending = static_cast<Query *>(query);
    const Query taken = *pending;
    taken.watcher->m_queries.remove_if([pending](const Query &q) { return &q == pending; });
    if (taken.epoch != taken.watcher->m_epoch)
        return std::nullopt;
    return taken;
}

void ModemWatcher::setOwner(const std::string &owner)
{
    if (owner == m_owner)
        return;
    m_owner = owner;
    m_calls.clear();
    ++m_epoch;
    if (!m_owner.empty())
        ask(kRoot, kObjectManager, "GetManagedObjects", onManagedObjects, {});
}

// Anyone on the bus may send a signal that looks like ModemManager's.
bool ModemWatcher::fromOwner(sd_bus_message *message) const
{
    const char *sender = sd_bus_message_get_sender(message);
    return !m_owner.empty() && sender != nullptr && m_owner == sender;
}

void ModemWatcher::track(const std::string &callPath)
{
    if (m_calls.count(callPath) != 0)
        return; // seen already, in the calls there were when ModemManager appeared
    if (m_calls.size() >= kMaxCalls)
        m_calls.erase(m_calls.begin());
    Call &call = m_calls[callPath];
    call.added = Clock::now();
    if (!ask(callPath.c_str(), kProperties, "GetAll", onProperties, callPath, "s", kCall))
        call.stage = Call::Stage::Done;
}

void ModemWatcher::decide(const std::string &callPath, Call &call, std::string_view number)
{
    call.caller = control::CallerId(number);
    if (!m_blocks(call.caller)) {
        call.stage = Call::Stage::Done;
        return;
    }
    call.stage = Call::Stage::ToHangUp;
    call.due = call.waiting ? call.added + kIndexWait : Clock::now();
    if (Clock::now() >= call.due)
        hangUp(callPath, call);
}

void ModemWatcher::hangUp(const std::string &callPath, Call &call)
{
    call.stage = Call::Stage::HangingUp;
    if (!ask(callPath.c_str(), kCall, "Hangup", onHangup, callPath)) {
        call.stage = Call::Stage::Done;
        m_reporter.report(Fault::Hangup, "cannot ask ModemManager to hang up " + callPath);
        return;
    }
    m_queries.back().caller = call.caller;
}

void ModemWatcher::hungUp(const control::CallerId &caller)
{
    const auto now = Clock::now();
    for (auto it = m_recentlyHungUp.begin(); it != m_recentlyHungUp.end();) {
        const auto ringsOn = it->first.empty() ? kWithheldRingsOn : kRingOn;
        it = now - it->second >= ringsOn ? m_recentlyHungUp.erase(it) : std::next(it);
    }
    const bool again = m_recentlyHungUp.count(caller.number()) != 0;
    m_recentlyHungUp[caller.number()] = now;
    if (!again)
        m_hungUp(caller);
}

int ModemWatcher::onNameOwner(sd_bus_message *message, void *query, sd_bus_error * /*error*/)
{
    const auto asked = answered(query);
    const char *owner = nullptr;
    if (asked && !sd_bus_message_is_method_error(message, nullptr) && sd_bus_message_read(message, "s", &owner) >= 0)
        asked->watcher->setOwner(owner);
    return 0;
}

int ModemWatcher::onNameOwnerChanged(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    const char *sender = sd_bus_message_get_sender(message);
    const char *name = nullptr;
    const char *before = nullptr;
    const char *after = nullptr;
    if (sender != nullptr && std::strcmp(sender, kBusDriver) == 0
        && sd_bus_message_read(message, "sss", &name, &before, &after) >= 0 && std::strcmp(name, kService) == 0)
        static_cast<ModemWatcher *>(self)->setOwner(after);
    return 0;
}

int ModemWatcher::onManagedObjects(sd_bus_message *message, void *query, sd_bus_error * /*error*/)
{
    const auto asked = answered(query);
    std::vector<std::string> calls;
    if (!asked || sd_bus_message_is_method_error(message, nullptr))
        return 0;
    readVoiceCalls(message, calls); // those read before a malformed part still count
    for (const std::string &call : calls)
        asked->watcher->track(call);
    return 0;
}

int ModemWatcher::onCallAdded(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<ModemWatcher *>(self);
    const char *path = nullptr;
    if (watcher.fromOwner(message) && sd_bus_message_read(message, "o", &path) >= 0)
        watcher.track(path);
    return 0;
}

int ModemWatcher::onCallDeleted(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<ModemWatcher *>(self);
    const char *path = nullptr;
    if (watcher.fromOwner(message) && sd_bus_message_read(message, "o", &path) >= 0)
        watcher.m_calls.erase(path);
    return 0;
}

int ModemWatcher::onProperties(sd_bus_message *message, void *query, sd_bus_error * /*error*/)
{
    const auto asked = answered(query);
    if (!asked)
        return 0;
    ModemWatcher &watcher = *asked->watcher;
    const auto found = watcher.m_calls.find(asked->callPath);
    if (found == watcher.m_calls.end())
        return 0;
    Call &call = found->second;
    call.stage = Call::Stage::Done;
    CallProperties properties;
    if (sd_bus_message_is_method_error(message, nullptr) || !readProperties(message, properties))
        return 0; // gone already
    if (!properties.hasDirection || properties.direction != kIncoming || !properties.hasState
        || (properties.state != kRingingIn && properties.state != kWaiting))
        return 0;
    call.waiting = properties.state == kWaiting;
    if (!properties.number.empty()) {
        watcher.decide(found->first, call, properties.number);
        return 0;
    }
    call.stage = Call::Stage::AwaitingNumber;
    call.due = call.added + kNumberWait;
    return 0;
}

int ModemWatcher::onPropertiesChanged(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<ModemWatcher *>(self);
    const char *path = sd_bus_message_get_path(message);
    if (!watcher.fromOwner(message) || path == nullptr)
        return 0;
    const auto found = watcher.m_calls.find(path);
    const char *interface = nullptr;
    CallProperties changed;
    if (found == watcher.m_calls.end() || sd_bus_message_read(message, "s", &interface) < 0
        || !readProperties(message, changed))
        return 0;
    Call &call = found->second;
    const bool undecided = call.stage == Call::Stage::AwaitingNumber || call.stage == Call::Stage::ToHangUp;
    if (undecided && changed.hasState && changed.state != kRingingIn && changed.state != kWaiting)
        call.stage = Call::Stage::Done; // answered or ended meanwhile
    else if (call.stage == Call::Stage::AwaitingNumber && !changed.number.empty())
        watcher.decide(found->first, call, changed.number);
    return 0;
}

int ModemWatcher::onHangup(sd_bus_message *message, void *query, sd_bus_error * /*error*/)
{
    const auto asked = answered(query);
    if (!asked)
        return 0;
    ModemWatcher &watcher = *asked->watcher;
    if (const auto found = watcher.m_calls.find(asked->callPath); found != watcher.m_calls.end())
        found->second.stage = Call::Stage::Done;
    if (const sd_bus_error *error = sd_bus_message_get_error(message); error != nullptr && error->name != nullptr) {
        watcher.m_reporter.report(Fault::Hangup,
                                  std::string("ModemManager did not hang up a blocked call: ") + error->name
                                      + (error->message != nullptr ? std::string(": ") + error->message : ""),
                                  error->name);
        return 0;
    }
    watcher.m_reporter.resolved(Fault::Hangup);
    watcher.hungUp(asked->caller);
    return 0;
}
