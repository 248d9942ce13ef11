#include "daemon/telephony/ofonowatcher.h"

#include <cstring>
#include <map>

namespace {

constexpr char kService[] = "org.ofono";
constexpr char kManager[] = "org.ofono.Manager";
constexpr char kCallManager[] = "org.ofono.VoiceCallManager";

// oFono ends a waiting call with AT+CHLD=0 (busy to the caller), which keeps the active call.
constexpr CallWatcher::Service kOfono{kService, "oFono", "org.ofono.VoiceCall", std::chrono::seconds(0)};

// Reads the variant of `key` of a call, of an a{sv} or a PropertyChanged, into `said`: what
// reading it returned, or 0 for a key left unread.
int readCallProperty(sd_bus_message *message, const char *key, CallWatcher::CallProperties &said)
{
    if (std::strcmp(key, "Emergency") == 0) {
        int emergency = 0;
        const int read = sd_bus_message_read(message, "v", "b", &emergency);
        said.emergency = emergency != 0;
        return read;
    }
    const bool state = std::strcmp(key, "State") == 0;
    const char *value = nullptr;
    if (!state && std::strcmp(key, "LineIdentification") != 0)
        return 0;
    const int read = sd_bus_message_read(message, "v", "s", &value);
    if (read <= 0)
        return -1;
    if (state) {
        said.ringing = std::strcmp(value, "incoming") == 0 || std::strcmp(value, "waiting") == 0;
        said.waiting = std::strcmp(value, "waiting") == 0;
        // A call's state tells its direction only until it is answered: the first one said counts.
        const bool placing = std::strcmp(value, "dialing") == 0 || std::strcmp(value, "alerting") == 0;
        said.dialled = placing || std::strcmp(value, "active") == 0;
        if (placing || *said.ringing)
            said.outgoing = placing;
    } else {
        said.withheld = std::strcmp(value, "withheld") == 0;
        said.number = said.withheld ? "" : value;
    }
    return read;
}

// Calls `each` with every object path of an a(oa{sv}), the message at its properties.
template <typename Each> void forEachObject(sd_bus_message *message, Each each)
{
    if (sd_bus_message_enter_container(message, 'a', "(oa{sv})") < 0)
        return;
    while (sd_bus_message_enter_container(message, 'r', "oa{sv}") > 0) {
        const char *path = nullptr;
        if (sd_bus_message_read(message, "o", &path) < 0 || !each(path) || sd_bus_message_exit_container(message) < 0)
            return;
    }
}

} // namespace

OfonoWatcher::OfonoWatcher(sd_event *loop, Blocks blocks, HungUp hungUp, Placed placed, Reporter &reporter)
    : CallWatcher(loop, kOfono,
                  {{"type='signal',interface='org.ofono.Manager',member='ModemAdded'",
                    withPath<OfonoWatcher, &OfonoWatcher::askCalls>},
                   {"type='signal',interface='org.ofono.Manager',member='ModemRemoved'",
                    withPath<OfonoWatcher, &OfonoWatcher::forgetCallsOf>},
                   {"type='signal',interface='org.ofono.VoiceCallManager',member='CallAdded'", onCallAdded},
                   {"type='signal',interface='org.ofono.VoiceCallManager',member='CallRemoved'",
                    withPath<OfonoWatcher, &OfonoWatcher::forget>},
                   {"type='signal',interface='org.ofono.VoiceCall',member='PropertyChanged'", onPropertyChanged}},
                  std::move(blocks), std::move(hungUp), std::move(placed), reporter)
{
    start();
}

firewall::Region::Network OfonoWatcher::operatorCode(sd_bus *bus, std::chrono::milliseconds wait)
{
    const bus::Message modems = bus::askNow(bus, kService, "/", kManager, "GetModems", wait);
    std::string home;
    std::string network;
    if (!modems)
        return {};
    forEachObject(modems.get(), [&](const char *modem) {
        for (const char *interface : {"org.ofono.SimManager", "org.ofono.NetworkRegistration"}) {
            std::map<std::string, std::string> code{{"MobileCountryCode", ""}, {"MobileNetworkCode", ""}};
            const bus::Message reply = bus::askNow(bus, kService, modem, interface, "GetProperties", wait);
            std::string &into = std::strcmp(interface, "org.ofono.SimManager") == 0 ? home : network;
            const auto readCode = [&reply, &code](const char *key) {
                const char *text = nullptr;
                const int read = code.count(key) != 0 ? sd_bus_message_read(reply.get(), "v", "s", &text) : 0;
                if (read > 0)
                    code[key] = text;
                return read;
            };
            if (reply && bus::readDictionary(reply.get(), readCode) && into.empty())
                into = code["MobileCountryCode"] + code["MobileNetworkCode"];
        }
        return sd_bus_message_skip(modems.get(), "a{sv}") >= 0;
    });
    return home.size() >= 5 ? firewall::Region::Network{home, true} : firewall::Region::Network{network};
}

void OfonoWatcher::appeared()
{
    ask("/", kManager, "GetModems", onModems);
}

void OfonoWatcher::askCalls(const std::string &modemPath)
{
    ask(modemPath.c_str(), kCallManager, "GetCalls", onCalls);
}

bool OfonoWatcher::found(const char *callPath, sd_bus_message *properties)
{
    CallProperties said;
    if (!bus::readDictionary(properties, [&](const char *key) { return readCallProperty(properties, key, said); }))
        return false;
    if (track(callPath))
        updateCall(callPath, said);
    return true;
}

int OfonoWatcher::onModems(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<OfonoWatcher *>(self);
    if (watcher.failed(message, Fault::Refused, "did not list its modems"))
        return 0;
    forEachObject(message, [&](const char *modem) {
        watcher.askCalls(modem);
        return sd_bus_message_skip(message, "a{sv}") >= 0;
    });
    return 0;
}

int OfonoWatcher::onCalls(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    // A modem that cannot make calls yet says so: its calls will be added.
    if (!sd_bus_message_is_method_error(message, nullptr))
        forEachObject(message,
                      [&](const char *call) { return static_cast<OfonoWatcher *>(self)->found(call, message); });
    return 0;
}

int OfonoWatcher::onCallAdded(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<OfonoWatcher *>(self);
    const char *path = nullptr;
    if (watcher.fromOwner(message) && sd_bus_message_read(message, "o", &path) >= 0)
        watcher.found(path, message);
    return 0;
}

int OfonoWatcher::onPropertyChanged(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &watcher = *static_cast<OfonoWatcher *>(self);
    const char *path = sd_bus_message_get_path(message);
    const char *key = nullptr;
    CallProperties changed;
    if (watcher.fromOwner(message) && path != nullptr && sd_bus_message_read(message, "s", &key) >= 0
        && readCallProperty(message, key, changed) > 0)
        watcher.updateCall(path, changed);
    return 0;
}
