#include "daemon/ofonowatcher.h"

#include <cstring>
#include <map>

namespace {

constexpr char kService[] = "org.ofono";
constexpr char kManager[] = "org.ofono.Manager";
constexpr char kCallManager[] = "org.ofono.VoiceCallManager";

// oFono ends a waiting call with AT+CHLD=0 (busy to the caller), which keeps the active call.
constexpr CallWatcher::Service kOfono{kService, "oFono", "org.ofono.VoiceCall", std::chrono::seconds(0)};

// Reads the variant of `key`, of an a{sv} or a PropertyChanged, into `news`.
bool readProperty(sd_bus_message *message, const char *key, CallWatcher::News &news)
{
    const bool state = std::strcmp(key, "State") == 0;
    if (!state && std::strcmp(key, "LineIdentification") != 0)
        return sd_bus_message_skip(message, "v") >= 0;
    const char *value = nullptr;
    if (sd_bus_message_read(message, "v", "s", &value) < 0)
        return false;
    if (state) {
        news.ringing = std::strcmp(value, "incoming") == 0 || std::strcmp(value, "waiting") == 0;
        news.waiting = std::strcmp(value, "waiting") == 0;
    } else {
        news.withheld = std::strcmp(value, "withheld") == 0;
        news.number = news.withheld ? "" : value;
    }
    return true;
}

// Reads an a{sv}: with `news`, a call's; else the string values of `strings`' keys.
bool readProperties(sd_bus_message *message, CallWatcher::News *news, std::map<std::string, std::string> *strings)
{
    if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0)
        return false;
    int entered = 0;
    while ((entered = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char *key = nullptr;
        const char *text = nullptr;
        bool read = sd_bus_message_read(message, "s", &key) >= 0;
        if (read && news != nullptr)
            read = readProperty(message, key, *news);
        else if (read && strings->count(key) != 0 && sd_bus_message_read(message, "v", "s", &text) >= 0)
            (*strings)[key] = text;
        else if (read)
            read = sd_bus_message_skip(message, "v") >= 0;
        if (!read || sd_bus_message_exit_container(message) < 0)
            return false;
    }
    return entered >= 0 && sd_bus_message_exit_container(message) >= 0;
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

OfonoWatcher::OfonoWatcher(sd_event *loop, Blocks blocks, HungUp hungUp, Reporter &reporter)
    : CallWatcher(loop, kOfono,
                  {{"type='signal',interface='org.ofono.Manager',member='ModemAdded'",
                    withPath<OfonoWatcher, &OfonoWatcher::askCalls>},
                   {"type='signal',interface='org.ofono.Manager',member='ModemRemoved'",
                    withPath<OfonoWatcher, &OfonoWatcher::forgetCallsOf>},
                   {"type='signal',interface='org.ofono.VoiceCallManager',member='CallAdded'", onCallAdded},
                   {"type='signal',interface='org.ofono.VoiceCallManager',member='CallRemoved'",
                    withPath<OfonoWatcher, &OfonoWatcher::forget>},
                   {"type='signal',interface='org.ofono.VoiceCall',member='PropertyChanged'", onPropertyChanged}},
                  std::move(blocks), std::move(hungUp), reporter)
{
    start();
}

control::Region::Network OfonoWatcher::operatorCode(sd_bus *bus, std::chrono::milliseconds wait)
{
    const Reply modems = askNow(bus, kService, "/", kManager, "GetModems", wait);
    std::string home;
    std::string network;
    if (!modems)
        return {};
    forEachObject(modems.get(), [&](const char *modem) {
        for (const char *interface : {"org.ofono.SimManager", "org.ofono.NetworkRegistration"}) {
            std::map<std::string, std::string> code{{"MobileCountryCode", ""}, {"MobileNetworkCode", ""}};
            const Reply reply = askNow(bus, kService, modem, interface, "GetProperties", wait);
            std::string &into = std::strcmp(interface, "org.ofono.SimManager") == 0 ? home : network;
            if (reply && readProperties(reply.get(), nullptr, &code) && into.empty())
                into = code["MobileCountryCode"] + code["MobileNetworkCode"];
        }
        return sd_bus_message_skip(modems.get(), "a{sv}") >= 0;
    });
    return home.size() >= 5 ? control::Region::Network{home, true} : control::Region::Network{network};
}

void OfonoWatcher::appeared()
{
    ask("/", kManager, "GetModems", onModems, {});
}

void OfonoWatcher::askCalls(const std::string &modemPath)
{
    ask(modemPath.c_str(), kCallManager, "GetCalls", onCalls, {});
}

bool OfonoWatcher::found(const char *callPath, sd_bus_message *properties)
{
    News news;
    if (!readProperties(properties, &news, nullptr))
        return false;
    if (track(callPath))
        heard(callPath, news);
    return true;
}

int OfonoWatcher::onModems(sd_bus_message *message, void *query, sd_bus_error * /*error*/)
{
    const auto asked = answered(query);
    if (!asked
        || static_cast<OfonoWatcher *>(asked->watcher)->failed(message, Fault::Refused, "did not list its modems"))
        return 0;
    auto &watcher = *static_cast<OfonoWatcher *>(asked->watcher);
    forEachObject(message, [&](const char *modem) {
        watcher.askCalls(modem);
        return sd_bus_message_skip(message, "a{sv}") >= 0;
    });
    return 0;
}

int OfonoWatcher::onCalls(sd_bus_message *message, void *query, sd_bus_error * /*error*/)
{
    const auto asked = answered(query);
    // A modem that cannot make calls yet says so: its calls will be added.
    if (asked && !sd_bus_message_is_method_error(message, nullptr))
        forEachObject(message, [&](const char *call) {
            return static_cast<OfonoWatcher *>(asked->watcher)->found(call, message);
        });
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
    News changed;
    if (watcher.fromOwner(message) && path != nullptr && sd_bus_message_read(message, "s", &key) >= 0
        && readProperty(message, key, changed))
        watcher.heard(path, changed);
    return 0;
}
