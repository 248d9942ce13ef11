#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <systemd/sd-bus.h>

// What the daemon's D-Bus clients (the telephony watchers, the address books, the user unit)
// share: owners of sd-bus objects, questions asked now, and readers of the dictionaries the
// services answer with.
namespace bus {

using Bus = std::unique_ptr<sd_bus, decltype(&sd_bus_flush_close_unref)>;
using Message = std::unique_ptr<sd_bus_message, decltype(&sd_bus_message_unref)>;
// A method call on its way, or a match; let go, it is never handled.
using Slot = std::unique_ptr<sd_bus_slot, decltype(&sd_bus_slot_unref)>;

// A connection to the system bus of its own, null without one.
Bus system();

// A method call that does not start its service: the daemon watches services, it never starts
// them. Null on any failure.
Message methodCall(sd_bus *bus, const char *service, const char *path, const char *interface, const char *member);

// Asks `service` on `bus` and waits at most `wait` for the answer: for what is asked once,
// before the loop runs. Null on any failure.
Message askNow(sd_bus *bus, const char *service, const char *path, const char *interface, const char *member,
               std::chrono::milliseconds wait, const char *types = nullptr, const char *first = nullptr,
               const char *second = nullptr);

// The match rule for the bus driver's news of `name`'s owner.
std::string ownerChangedRule(const char *name);

// Reads a property dictionary (a{sv}): `value` is given each key, the message at its
// variant, and returns what reading the variant returned, or 0 to leave it (it is skipped).
// False on a malformed message.
bool readDictionary(sd_bus_message *message, const std::function<int(const char *key)> &value);
// Reads a GetManagedObjects reply (a{oa{sa{sv}}}): the properties of each object's
// `interface` go to `value` as readDictionary() gives them, and `objectRead`, when given,
// is told after each object. False on a malformed message.
bool readManagedObjects(sd_bus_message *message, const char *interface,
                        const std::function<int(const char *key)> &value, const std::function<void()> &objectRead = {});

} // namespace bus
