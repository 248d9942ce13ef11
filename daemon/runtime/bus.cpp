#include "daemon/runtime/bus.h"

#include <cstring>

namespace bus {

Bus system()
{
    sd_bus *bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
        bus = nullptr;
    return {bus, sd_bus_flush_close_unref};
}

Message methodCall(sd_bus *bus, const char *service, const char *path, const char *interface, const char *member)
{
    sd_bus_message *call = nullptr;
    if (bus == nullptr || sd_bus_message_new_method_call(bus, &call, service, path, interface, member) < 0
        || sd_bus_message_set_auto_start(call, 0) < 0)
        call = sd_bus_message_unref(call);
    return {call, sd_bus_message_unref};
}

bus::Message askNow(sd_bus *bus, const char *service, const char *path, const char *interface, const char *member,
                    std::chrono::milliseconds wait, const char *types, const char *first, const char *second)
{
    const Message call = methodCall(bus, service, path, interface, member);
    sd_bus_message *reply = nullptr;
    if (!call || (types != nullptr && sd_bus_message_append(call.get(), types, first, second) < 0)
        || sd_bus_call(bus, call.get(), std::chrono::microseconds(wait).count(), nullptr, &reply) < 0)
        reply = nullptr;
    return {reply, sd_bus_message_unref};
}

std::string ownerChangedRule(const char *name)
{
    return "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
           "arg0='"
        + std::string(name) + "'";
}

bool readDictionary(sd_bus_message *message, const std::function<int(const char *key)> &value)
{
    if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0)
        return false;
    int entered = 0;
    while ((entered = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char *key = nullptr;
        if (sd_bus_message_read(message, "s", &key) < 0)
            return false;
        int read = value(key);
        if (read == 0)
            read = sd_bus_message_skip(message, "v");
        if (read < 0 || sd_bus_message_exit_container(message) < 0)
            return false;
    }
    return entered >= 0 && sd_bus_message_exit_container(message) >= 0;
}

bool readManagedObjects(sd_bus_message *message, const char *interface,
                        const std::function<int(const char *key)> &value, const std::function<void()> &objectRead)
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
            const bool read = std::strcmp(name, interface) != 0 ? sd_bus_message_skip(message, "a{sv}") >= 0
                                                                : readDictionary(message, value);
            if (!read || sd_bus_message_exit_container(message) < 0)
                return false;
        }
        if (sd_bus_message_exit_container(message) < 0 || sd_bus_message_exit_container(message) < 0)
            return false;
        if (objectRead)
            objectRead();
    }
    return true;
}

} // namespace bus
