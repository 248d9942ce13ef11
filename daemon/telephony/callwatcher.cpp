#include "daemon/telephony/callwatcher.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kBusDriver[] = "org.freedesktop.DBus";
constexpr size_t kMaxCalls = 1024;

} // namespace

CallWatcher::CallWatcher(sd_event *loop, const Service &service, std::vector<Match> matches, Blocks blocks,
                         HungUp hungUp, Placed placed, Reporter &reporter)
    : m_service(service)
    , m_matches(std::move(matches))
    , m_blocks(std::move(blocks))
    , m_hungUp(std::move(hungUp))
    , m_placed(std::move(placed))
    , m_reporter(reporter)
    , m_loop(loop)
    , m_due(eventloop::timer(loop, [this] { handleDue(); }))
    , m_dispatched(eventloop::post(loop, [this] { rearm(); }))
{
}

void CallWatcher::start()
{
    connect();
    rearm();
}

CallWatcher::~CallWatcher()
{
    disconnect({});
}

void CallWatcher::connect()
{
    sd_bus *bus = nullptr;
    int result = sd_bus_open_system(&bus);
    const auto match = [&](const std::string &rule, sd_bus_message_handler_t handler) {
        if (result >= 0)
            result = sd_bus_add_match_async(bus, nullptr, rule.c_str(), handler, nullptr, this);
    };
    match(bus::ownerChangedRule(m_service.name), onNameOwnerChanged);
    for (const Match &each : m_matches)
        match(each.rule, each.handler);
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
                              + "): only the calls on the socket are screened");
        return;
    }
    m_bus = bus;
    m_reporter.resolved(Fault::Bus);
    // Asked after the match is set, so that no change of owner falls between the two.
    sd_bus_slot *slot = nullptr;
    if (sd_bus_call_method_async(m_bus, &slot, kBusDriver, "/org/freedesktop/DBus", kBusDriver, "GetNameOwner",
                                 onNameOwner, this, "s", m_service.name)
        >= 0)
        m_questions.emplace_back(slot, sd_bus_slot_unref);
}

void CallWatcher::disconnect(const std::string &why)
{
    if (m_bus == nullptr)
        return;
    m_questions.clear();
    m_calls.clear();
    m_bus = sd_bus_flush_close_unref(m_bus);
    m_lost = false;
    m_owner.clear();
    m_reconnectAt = Clock::now() + std::chrono::seconds(1);
    if (!why.empty())
        m_reporter.report(Fault::Bus, "lost the system D-Bus (" + why + "); connecting again");
}

std::optional<CallWatcher::Clock::time_point> CallWatcher::dueAt() const
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

void CallWatcher::rearm()
{
    if (m_due == nullptr)
        return;
    const auto due = dueAt();
    if (!due)
        eventloop::disarm(m_due.get());
    else if (!eventloop::armAt(m_due.get(), *due))
        m_reporter.report(Fault::Timer,
                          std::string("cannot set a timer: the calls of ") + m_service.label
                              + " may wait for their number or hang-up until the next call");
}

int CallWatcher::onDisconnected(sd_bus_message * /*message*/, void *self, sd_bus_error * /*error*/)
{
    static_cast<CallWatcher *>(self)->m_lost = true;
    return 0;
}

void CallWatcher::handleDue()
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

bool CallWatcher::ask(const char *path, const char *interface, const char *member, sd_bus_message_handler_t onReply,
                      const std::string &callPath, const char *types, const char *argument)
{
    const auto call = m_calls.find(callPath);
    sd_bus_slot *slot = nullptr;
    if (sd_bus_call_method_async(m_bus, &slot, m_service.name, path, interface, member, onReply, this, types, argument)
        < 0)
        return false;
    if (call != m_calls.end())
        call->second.question.reset(slot);
    else
        m_questions.emplace_back(slot, sd_bus_slot_unref);
    return true;
}

std::optional<std::string> CallWatcher::askedAbout(sd_bus_message *reply) const
{
    const sd_bus_slot *asked = sd_bus_get_current_slot(sd_bus_message_get_bus(reply));
    const auto call = std::find_if(m_calls.begin(), m_calls.end(),
                                   [asked](const auto &each) { return each.second.question.get() == asked; });
    return call == m_calls.end() ? std::nullopt : std::optional<std::string>(call->first);
}

void CallWatcher::setOwner(const std::string &owner)
{
    if (owner == m_owner && m_ownerKnown)
        return;
    const std::string label = m_service.label + std::string(" (") + m_service.name + ")";
    if (!owner.empty())
        m_reporter.inform("screening the calls of " + label);
    else if (!m_ownerKnown)
        m_reporter.inform(label + " is not running: its calls are screened once it starts");
    else
        m_reporter.inform(label + " stopped: its calls are screened once it starts again");
    m_ownerKnown = true;
    m_owner = owner;
    m_calls.clear();
    m_questions.clear();
    if (!m_owner.empty())
        appeared();
}

bool CallWatcher::failed(sd_bus_message *reply, Fault fault, const char *did) const
{
    const sd_bus_error *error = sd_bus_message_get_error(reply);
    if (error == nullptr || error->name == nullptr)
        return false;
    const std::string what = m_service.label + std::string(" ") + did + ": ";
    // The bus's refusal is many lines of its rules; the owner needs the one to add.
    if (sd_bus_error_has_name(error, SD_BUS_ERROR_ACCESS_DENIED) != 0)
        m_reporter.report(fault,
                          what + "the system bus's policy does not let this user ask " + m_service.name
                              + " (allow send_destination=\"" + m_service.name
                              + "\" for the user in /etc/dbus-1/system.d/, as README says)",
                          error->name);
    else
        m_reporter.report(fault,
                          what + error->name + (error->message != nullptr ? std::string(": ") + error->message : ""),
                          error->name);
    return true;
}

bool CallWatcher::fromOwner(sd_bus_message *message) const
{
    const char *sender = sd_bus_message_get_sender(message);
    return !m_owner.empty() && sender != nullptr && m_owner == sender;
}

bool CallWatcher::track(const std::string &callPath)
{
    if (m_calls.count(callPath) != 0)
        return false; // seen already, in the calls there were when the service appeared
    if (m_calls.size() >= kMaxCalls)
        m_calls.erase(m_calls.begin());
    m_calls[callPath].added = Clock::now();
    return true;
}

void CallWatcher::updateCall(const std::string &callPath, const CallProperties &said)
{
    const auto found = m_calls.find(callPath);
    if (found == m_calls.end())
        return;
    Call &call = found->second;
    notePlaced(call, said);
    if (call.stage == Call::Stage::Asking) {
        if (!said.ringing || !*said.ringing) {
            if (said.ringing)
                call.stage = Call::Stage::Done; // outgoing, answered, or gone already
            return;
        }
        call.stage = Call::Stage::AwaitingNumber;
        call.waiting = said.waiting;
        call.due = call.added + kNumberWait;
    }
    const bool undecided = call.stage == Call::Stage::AwaitingNumber || call.stage == Call::Stage::ToHangUp;
    if (undecided && !said.ringing.value_or(true))
        call.stage = Call::Stage::Done; // answered or ended meanwhile
    else if (call.stage == Call::Stage::AwaitingNumber && (said.withheld || !said.number.empty()))
        decide(callPath, call, said.withheld ? std::string() : said.number);
}

void CallWatcher::notePlaced(Call &call, const CallProperties &said)
{
    call.outgoing = said.outgoing.value_or(call.outgoing);
    call.emergency = call.emergency || said.emergency;
    call.dialled = call.dialled || said.dialled;
    if (!said.number.empty())
        call.number = said.number;
    if (call.outgoing && call.dialled && !call.placed && !call.number.empty()) {
        call.placed = true;
        m_placed(call.number, call.emergency || isEmergencyNumber(call.number));
    }
}

std::map<std::string, CallWatcher::Call>::iterator CallWatcher::drop(std::map<std::string, Call>::iterator call)
{
    if (call->second.stage != Call::Stage::HangingUp)
        return m_calls.erase(call);
    call->second.removed = true; // the service may remove a call before it says it hung up
    return std::next(call);
}

void CallWatcher::forget(const std::string &callPath)
{
    if (const auto call = m_calls.find(callPath); call != m_calls.end())
        drop(call);
}

void CallWatcher::forgetCallsOf(const std::string &modemPath)
{
    const std::string prefix = modemPath + "/";
    for (auto it = m_calls.lower_bound(prefix); it != m_calls.end() && it->first.rfind(prefix, 0) == 0;)
        it = drop(it);
}

void CallWatcher::decide(const std::string &callPath, Call &call, std::string_view number)
{
    call.caller = firewall::CallerId(number);
    if (!m_blocks(call.caller)) {
        call.stage = Call::Stage::Done;
        return;
    }
    call.stage = Call::Stage::ToHangUp;
    call.due = call.waiting ? call.added + m_service.waitingHangUpDelay : Clock::now();
    if (Clock::now() >= call.due)
        hangUp(callPath, call);
}

void CallWatcher::hangUp(const std::string &callPath, Call &call)
{
    call.stage = Call::Stage::HangingUp;
    if (!ask(callPath.c_str(), m_service.callInterface, "Hangup", onHangup, callPath)) {
        call.stage = Call::Stage::Done;
        m_reporter.report(Fault::Hangup, std::string("cannot ask ") + m_service.label + " to hang up " + callPath);
    }
}

void CallWatcher::hungUp(const firewall::CallerId &caller)
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

int CallWatcher::onNameOwner(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    const char *owner = nullptr;
    if (sd_bus_message_is_method_error(message, nullptr) || sd_bus_message_read(message, "s", &owner) < 0)
        owner = "";
    static_cast<CallWatcher *>(self)->setOwner(owner);
    return 0;
}

int CallWatcher::onNameOwnerChanged(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<CallWatcher *>(self);
    const char *sender = sd_bus_message_get_sender(message);
    const char *name = nullptr;
    const char *before = nullptr;
    const char *after = nullptr;
    if (sender != nullptr && std::strcmp(sender, kBusDriver) == 0
        && sd_bus_message_read(message, "sss", &name, &before, &after) >= 0
        && std::strcmp(name, watcher.m_service.name) == 0)
        watcher.setOwner(after);
    return 0;
}

int CallWatcher::onHangup(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<CallWatcher *>(self);
    const auto found = watcher.m_calls.find(watcher.askedAbout(message).value_or(std::string()));
    if (found == watcher.m_calls.end())
        return 0;
    const firewall::CallerId caller = found->second.caller;
    found->second.stage = Call::Stage::Done;
    if (found->second.removed)
        watcher.m_calls.erase(found);
    if (watcher.failed(message, Fault::Hangup, "did not hang up a blocked call"))
        return 0;
    watcher.m_reporter.resolved(Fault::Hangup);
    watcher.hungUp(caller);
    return 0;
}
