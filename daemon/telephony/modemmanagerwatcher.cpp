#include "daemon/telephony/modemmanagerwatcher.h"

#include <cstring>

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

// Hung up before ModemManager's +CLCC poll, a waiting call has no index yet, and ModemManager
// would send AT+CHUP, which on many modems ends the user's active call too.
constexpr CallWatcher::Service kModemManager{kService, "ModemManager", kCall, std::chrono::seconds(3)};

// ModemManager's MMCallState: only incoming calls ring in or wait.
constexpr int kDialing = 1;
constexpr int kRingingOut = 2;
constexpr int kRingingIn = 3;
constexpr int kActive = 4;
constexpr int kWaiting = 6;
// MMCallDirection
constexpr int kOutgoing = 2;

// Reads an a{sv} of Call properties; false on a malformed message.
bool readProperties(sd_bus_message *message, CallWatcher::CallProperties &out)
{
    return bus::readDictionary(message, [message, &out](const char *key) {
        if (std::strcmp(key, "Number") == 0) {
            const char *number = nullptr;
            const int read = sd_bus_message_read(message, "v", "s", &number);
            out.number = number != nullptr ? number : "";
            return read;
        }
        const bool direction = std::strcmp(key, "Direction") == 0;
        if (!direction && std::strcmp(key, "State") != 0)
            return 0;
        int value = 0;
        const int read = sd_bus_message_read(message, "v", "i", &value);
        if (direction) {
            out.outgoing = value == kOutgoing;
        } else {
            out.ringing = value == kRingingIn || value == kWaiting;
            out.waiting = value == kWaiting;
            out.dialled = value == kDialing || value == kRingingOut || value == kActive;
        }
        return read;
    });
}

// Reads, with `readValue`, the variant of `property` of every object's `interface` in a
// GetManagedObjects reply; false on a malformed message.
bool readManagedProperty(sd_bus_message *message, const char *interface, const char *property,
                         const std::function<int(sd_bus_message *)> &readValue)
{
    return bus::readManagedObjects(
        message, interface, [&](const char *key) { return std::strcmp(key, property) == 0 ? readValue(message) : 0; });
}

// The "Calls" of every Voice interface in a GetManagedObjects reply.
bool readVoiceCalls(sd_bus_message *message, std::vector<std::string> &calls)
{
    return readManagedProperty(message, kVoice, "Calls", [&calls](sd_bus_message *value) {
        if (sd_bus_message_enter_container(value, 'v', "ao") < 0 || sd_bus_message_enter_container(value, 'a', "o") < 0)
            return -1;
        const char *call = nullptr;
        while (sd_bus_message_read(value, "o", &call) > 0)
            calls.emplace_back(call);
        return sd_bus_message_exit_container(value) >= 0 && sd_bus_message_exit_container(value) >= 0 ? 1 : -1;
    });
}

} // namespace

ModemManagerWatcher::ModemManagerWatcher(sd_event *loop, Blocks blocks, HungUp hungUp, Placed placed,
                                         Reporter &reporter)
    : CallWatcher(loop, kModemManager,
                  {{"type='signal',interface='org.freedesktop.ModemManager1.Modem.Voice',member='CallAdded'",
                    withPath<ModemManagerWatcher, &ModemManagerWatcher::track>},
                   {"type='signal',interface='org.freedesktop.ModemManager1.Modem.Voice',member='CallDeleted'",
                    withPath<ModemManagerWatcher, &ModemManagerWatcher::forget>},
                   {"type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
                    "arg0='org.freedesktop.ModemManager1.Call'",
                    onPropertiesChanged}},
                  std::move(blocks), std::move(hungUp), std::move(placed), reporter)
{
    start();
}

firewall::Region::Network ModemManagerWatcher::operatorCode(sd_bus *bus, std::chrono::milliseconds wait)
{
    const auto firstOf = [](const char *type, std::string &into) {
        return [type, &into](sd_bus_message *value) {
            const char *text = nullptr;
            const int read = sd_bus_message_read(value, "v", type, &text);
            if (read > 0 && into.empty() && text != nullptr)
                into = text;
            return read;
        };
    };
    const bus::Message managed = bus::askNow(bus, kService, kRoot, kObjectManager, "GetManagedObjects", wait);
    std::string network;
    std::string sim;
    if (!managed || !readManagedProperty(managed.get(), k3gpp, "OperatorCode", firstOf("s", network))
        || sd_bus_message_rewind(managed.get(), 1) < 0
        || !readManagedProperty(managed.get(), kModem, "Sim", firstOf("o", sim)) || sim.empty() || sim == "/")
        return {network};
    const auto simProperty = [&](const char *name) {
        std::string value;
        if (const bus::Message reply =
                bus::askNow(bus, kService, sim.c_str(), kProperties, "Get", wait, "ss", kSim, name))
            firstOf("s", value)(reply.get());
        return value;
    };
    // Where the SIM's files do not say how long its MNC is, its MCC still names the country.
    std::string home = simProperty("OperatorIdentifier");
    if (home.empty())
        home = simProperty("Imsi").substr(0, 5);
    return home.size() >= 5 ? firewall::Region::Network{home, true} : firewall::Region::Network{network};
}

void ModemManagerWatcher::appeared()
{
    m_simEmergencyNumbers.clear();
    ask(kRoot, kObjectManager, "GetManagedObjects", onManagedObjects);
}

void ModemManagerWatcher::track(const std::string &callPath)
{
    if (CallWatcher::track(callPath)
        && !ask(callPath.c_str(), kProperties, "GetAll", onProperties, callPath, "s", kCall)) {
        CallProperties gone;
        gone.ringing = false;
        updateCall(callPath, gone);
    }
}

int ModemManagerWatcher::onManagedObjects(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<ModemManagerWatcher *>(self);
    std::vector<std::string> calls;
    if (watcher.failed(message, Fault::Refused, "did not list its calls"))
        return 0;
    readVoiceCalls(message, calls); // those read before a malformed part still count
    std::vector<std::string> sims;
    if (sd_bus_message_rewind(message, 1) >= 0)
        readManagedProperty(message, kModem, "Sim", [&sims](sd_bus_message *value) {
            const char *sim = nullptr;
            const int read = sd_bus_message_read(value, "v", "o", &sim);
            if (read > 0 && std::strcmp(sim, "/") != 0)
                sims.emplace_back(sim);
            return read;
        });
    for (const std::string &sim : sims)
        watcher.ask(sim.c_str(), kProperties, "GetAll", onSim, {}, "s", kSim);
    for (const std::string &call : calls)
        watcher.track(call);
    return 0;
}

int ModemManagerWatcher::onSim(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &numbers = static_cast<ModemManagerWatcher *>(self)->m_simEmergencyNumbers;
    if (sd_bus_message_is_method_error(message, nullptr))
        return 0;
    bus::readDictionary(message, [message, &numbers](const char *key) {
        if (std::strcmp(key, "EmergencyNumbers") != 0)
            return 0;
        if (sd_bus_message_enter_container(message, 'v', "as") < 0)
            return -1;
        const char *number = nullptr;
        if (sd_bus_message_enter_container(message, 'a', "s") < 0)
            return -1;
        while (sd_bus_message_read(message, "s", &number) > 0)
            numbers.emplace(number);
        return sd_bus_message_exit_container(message) >= 0 && sd_bus_message_exit_container(message) >= 0 ? 1 : -1;
    });
    return 0;
}

int ModemManagerWatcher::onProperties(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<ModemManagerWatcher *>(self);
    const std::optional<std::string> call = watcher.askedAbout(message);
    CallProperties said;
    if (!call)
        return 0;
    if (sd_bus_message_is_method_error(message, nullptr) || !readProperties(message, said) || !said.ringing)
        said.ringing = false; // gone already
    watcher.updateCall(*call, said);
    return 0;
}

int ModemManagerWatcher::onPropertiesChanged(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<ModemManagerWatcher *>(self);
    const char *path = sd_bus_message_get_path(message);
    const char *interface = nullptr;
    CallProperties changed;
    if (watcher.fromOwner(message) && path != nullptr && sd_bus_message_read(message, "s", &interface) >= 0
        && readProperties(message, changed))
        watcher.updateCall(path, changed);
    return 0;
}
