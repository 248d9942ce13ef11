#include "modemwatcher.h"

#include "reporter.h"

#include <cstring>

namespace {

constexpr char kService[] = "org.freedesktop.ModemManager1";
constexpr char kVoice[] = "org.freedesktop.ModemManager1.Modem.Voice";
constexpr char kCall[] = "org.freedesktop.ModemManager1.Call";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";

// ModemManager's MMCallDirection and MMCallState.
constexpr unsigned kIncoming = 1;
constexpr int kRingingIn = 3;
constexpr int kWaiting = 6;

struct CallProperties
{
    bool hasNumber = false;
    std::string number;
    bool hasDirection = false;
    unsigned direction = 0;
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
            read = sd_bus_message_read(message, "v", "u", &out.direction);
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

} // namespace

ModemWatcher::ModemWatcher(std::function<bool(const std::string &number)> screen, Reporter &reporter)
    : m_screen(std::move(screen))
    , m_reporter(reporter)
{
    connect();
}

ModemWatcher::~ModemWatcher()
{
    disconnect({});
}

void ModemWatcher::connect()
{
    sd_bus *bus = nullptr;
    int result = sd_bus_open_system(&bus);
    if (result >= 0)
        result =
            sd_bus_match_signal_async(bus, nullptr, nullptr, nullptr, kVoice, "CallAdded", onCallAdded, nullptr, this);
    if (result >= 0) {
        const std::string changes = std::string("type='signal',interface='") + kProperties
            + "',member='PropertiesChanged',arg0='" + kCall + "'";
        result = sd_bus_add_match_async(bus, nullptr, changes.c_str(), onPropertiesChanged, nullptr, this);
    }
    if (result < 0) {
        sd_bus_flush_close_unref(bus);
        m_reconnectAt = Clock::now() + kReconnectWait;
        m_reporter.report("bus",
                          std::string("no system D-Bus (") + std::strerror(-result)
                              + "): calls from ModemManager are not screened, only those on the socket");
        return;
    }
    m_bus = bus;
    m_reporter.resolved("bus");
}

void ModemWatcher::disconnect(const std::string &why)
{
    if (m_bus == nullptr)
        return;
    m_bus = sd_bus_flush_close_unref(m_bus);
    m_queries.clear();
    m_waiting.clear();
    m_reconnectAt = Clock::now() + std::chrono::seconds(1);
    if (!why.empty())
        m_reporter.report("bus", "lost the system D-Bus (" + why + "); connecting again");
}

int ModemWatcher::fd() const
{
    return m_bus != nullptr ? sd_bus_get_fd(m_bus) : -1;
}

short ModemWatcher::events() const
{
    const int wanted = m_bus != nullptr ? sd_bus_get_events(m_bus) : 0;
    return static_cast<short>(wanted > 0 ? wanted : 0);
}

std::optional<ModemWatcher::Clock::time_point> ModemWatcher::dueAt() const
{
    if (m_bus == nullptr)
        return m_reconnectAt;
    std::optional<Clock::time_point> due;
    const auto earliest = [&due](Clock::time_point when) { due = due ? std::min(*due, when) : when; };
    for (const auto &waiting : m_waiting)
        earliest(waiting.second);
    // sd-bus's time is CLOCK_MONOTONIC, which steady_clock is on Linux.
    uint64_t busTimeout = 0;
    if (sd_bus_get_timeout(m_bus, &busTimeout) >= 0 && busTimeout != UINT64_MAX)
        earliest(Clock::time_point(std::chrono::microseconds(busTimeout)));
    return due;
}

void ModemWatcher::process()
{
    if (m_bus == nullptr) {
        if (Clock::now() >= m_reconnectAt)
            connect();
        return;
    }
    int result = 0;
    while ((result = sd_bus_process(m_bus, nullptr)) > 0) { }
    if (result < 0) {
        disconnect(std::strerror(-result));
        return;
    }
    // Numbers that did not come: withheld.
    const auto now = Clock::now();
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (now < it->second) {
            ++it;
            continue;
        }
        const std::string path = it->first;
        it = m_waiting.erase(it);
        screenCall(path, {});
    }
}

void ModemWatcher::query(const std::string &callPath)
{
    Query &pending = m_queries.emplace_back(Query{this, callPath});
    if (sd_bus_call_method_async(m_bus, nullptr, kService, callPath.c_str(), kProperties, "GetAll", onProperties,
                                 &pending, "s", kCall)
        < 0)
        m_queries.pop_back();
}

void ModemWatcher::screenCall(const std::string &callPath, const std::string &number)
{
    if (!m_screen(number) || m_bus == nullptr)
        return;
    if (sd_bus_call_method_async(m_bus, nullptr, kService, callPath.c_str(), kCall, "Hangup", onHangup, this, "") < 0)
        m_reporter.report("hangup", "cannot ask ModemManager to hang up " + callPath);
}

int ModemWatcher::onCallAdded(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    const char *path = nullptr;
    if (sd_bus_message_read(message, "o", &path) >= 0 && path != nullptr)
        static_cast<ModemWatcher *>(self)->query(path);
    return 0;
}

int ModemWatcher::onProperties(sd_bus_message *message, void *query, sd_bus_error * /*error*/)
{
    auto *pending = static_cast<Query *>(query);
    ModemWatcher &watcher = *pending->watcher;
    const std::string path = pending->callPath;
    watcher.m_queries.remove_if([pending](const Query &q) { return &q == pending; });
    CallProperties call;
    if (sd_bus_message_is_method_error(message, nullptr) || !readProperties(message, call))
        return 0; // gone already, or not ModemManager's
    if (!call.hasDirection || call.direction != kIncoming || !call.hasState
        || (call.state != kRingingIn && call.state != kWaiting))
        return 0;
    if (call.number.empty())
        watcher.m_waiting[path] = Clock::now() + kNumberWait;
    else
        watcher.screenCall(path, call.number);
    return 0;
}

int ModemWatcher::onPropertiesChanged(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<ModemWatcher *>(self);
    const char *path = sd_bus_message_get_path(message);
    const auto waiting = path != nullptr ? watcher.m_waiting.find(path) : watcher.m_waiting.end();
    if (waiting == watcher.m_waiting.end())
        return 0;
    const char *interface = nullptr;
    CallProperties changed;
    if (sd_bus_message_read(message, "s", &interface) < 0 || !readProperties(message, changed))
        return 0;
    if (changed.hasState && changed.state != kRingingIn && changed.state != kWaiting) {
        watcher.m_waiting.erase(waiting); // answered or ended before its number came
        return 0;
    }
    if (changed.hasNumber && !changed.number.empty()) {
        const std::string call = waiting->first;
        watcher.m_waiting.erase(waiting);
        watcher.screenCall(call, changed.number);
    }
    return 0;
}

int ModemWatcher::onHangup(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<ModemWatcher *>(self);
    if (const sd_bus_error *error = sd_bus_message_get_error(message); error != nullptr && error->name != nullptr)
        watcher.m_reporter.report("hangup", std::string("ModemManager did not hang up a blocked call: ") + error->name);
    else
        watcher.m_reporter.resolved("hangup");
    return 0;
}
