#include "daemon/userunit.h"

#include "daemon/runtime/bus.h"
#include "daemon/runtime/reporter.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <systemd/sd-bus.h>

namespace {

constexpr char kManager[] = "org.freedesktop.systemd1";
constexpr char kManagerPath[] = "/org/freedesktop/systemd1";
constexpr char kManagerInterface[] = "org.freedesktop.systemd1.Manager";
constexpr char kNoSuchUnit[] = "org.freedesktop.systemd1.NoSuchUnit";
// Past the manager's own start timeout (90 s), which ends a start that hangs first.
constexpr auto kStartWait = std::chrono::seconds(120);

using bus::Bus;
using bus::Message;

// A path as a D-Bus address value: bytes outside a few safe ones percent-encoded.
std::string addressValue(const char *path)
{
    std::string escaped;
    for (const char *c = path; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (std::isalnum(byte) != 0 || std::string_view("/_-.").find(*c) != std::string_view::npos) {
            escaped += *c;
        } else {
            static constexpr char kHex[] = "0123456789abcdef";
            escaped += {'%', kHex[byte >> 4], kHex[byte & 15]};
        }
    }
    return escaped;
}

// The user manager, over its private socket as systemctl reaches it, else over the session bus.
Bus userManager()
{
    sd_bus *bus = nullptr;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/' && sd_bus_new(&bus) >= 0) {
        const std::string address = "unix:path=" + addressValue(runtime) + "/systemd/private";
        if (sd_bus_set_address(bus, address.c_str()) >= 0 && sd_bus_start(bus) >= 0)
            return {bus, sd_bus_flush_close_unref};
        bus = sd_bus_flush_close_unref(bus);
    }
    if (sd_bus_open_user(&bus) < 0)
        return {nullptr, sd_bus_flush_close_unref};
    // Asked, not activated: a session without systemd may have a stand-in that only fails.
    sd_bus_message *reply = nullptr;
    int owned = 0;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                           nullptr, &reply, "s", kManager)
            < 0
        || sd_bus_message_read(reply, "b", &owned) < 0 || owned == 0)
        bus = sd_bus_flush_close_unref(bus);
    sd_bus_message_unref(reply);
    return {bus, sd_bus_flush_close_unref};
}

struct Job
{
    std::string path; // known once the manager has queued it
    std::string result; // set when it ended
};

int onJobRemoved(sd_bus_message *message, void *data, sd_bus_error * /*error*/)
{
    auto *job = static_cast<Job *>(data);
    uint32_t id = 0;
    const char *path = nullptr;
    const char *unit = nullptr;
    const char *result = nullptr;
    if (sd_bus_message_read(message, "uoss", &id, &path, &unit, &result) >= 0 && path == job->path)
        job->result = result;
    return 0;
}

int restartUnit(sd_bus *bus, const std::string &name, sd_bus_error *error, Job &job)
{
    sd_bus_message *reply = nullptr;
    const int result = sd_bus_call_method(bus, kManager, kManagerPath, kManagerInterface, "RestartUnit", error, &reply,
                                          "ss", name.c_str(), "replace");
    const Message owned(reply, sd_bus_message_unref);
    const char *path = nullptr;
    if (result >= 0 && sd_bus_message_read(reply, "o", &path) >= 0)
        job.path = path;
    return result;
}

} // namespace

UserUnit::Outcome UserUnit::restart(const std::string &file, const Reporter &reporter)
{
    const Bus bus = userManager();
    if (!bus)
        return Outcome::NotThere;
    const std::string name = file.substr(file.rfind('/') + 1);
    Job job;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    // Signals to the systemctl socket come only after Subscribe; over the bus, after the match.
    int result = sd_bus_match_signal(bus.get(), nullptr, kManager, kManagerPath, kManagerInterface, "JobRemoved",
                                     onJobRemoved, &job);
    if (result >= 0)
        result =
            sd_bus_call_method(bus.get(), kManager, kManagerPath, kManagerInterface, "Subscribe", &error, nullptr, "");
    if (result >= 0)
        result = restartUnit(bus.get(), name, &error, job);
    if (result < 0 && sd_bus_error_has_name(&error, kNoSuchUnit) != 0) {
        sd_bus_error_free(&error);
        result = sd_bus_call_method(bus.get(), kManager, kManagerPath, kManagerInterface, "LinkUnitFiles", &error,
                                    nullptr, "asbb", 1, file.c_str(), 0, 0);
        if (result >= 0)
            result = restartUnit(bus.get(), name, &error, job);
    }
    if (result < 0) {
        reporter.inform("the user manager did not start " + name + " ("
                        + (error.message != nullptr ? error.message : "no answer") + "): running outside it");
        sd_bus_error_free(&error);
        return Outcome::NotThere;
    }
    const auto until = std::chrono::steady_clock::now() + kStartWait;
    while (job.result.empty() && std::chrono::steady_clock::now() < until) {
        if (sd_bus_process(bus.get(), nullptr) > 0)
            continue;
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(until - std::chrono::steady_clock::now());
        if (sd_bus_wait(bus.get(), std::max<int64_t>(left.count(), 0)) < 0)
            break;
    }
    if (job.result == "done")
        return Outcome::Started;
    reporter.inform(name + " did not start (" + (job.result.empty() ? "no answer" : job.result)
                    + "): 'systemctl --user status " + name + "' says why");
    return Outcome::Failed;
}
