#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <systemd/sd-event.h>

// The daemon's parts share one sd-event loop; these own their sources. A handler may drop its
// own source: sd-event frees it once the handler has returned. Timers are on CLOCK_MONOTONIC,
// which steady_clock is on Linux.
namespace eventloop {

using Clock = std::chrono::steady_clock;
using Handler = std::function<void()>;

struct Unref
{
    void operator()(sd_event_source *source) const { sd_event_source_disable_unref(source); }
};
using Source = std::unique_ptr<sd_event_source, Unref>;

// Each is null when the source cannot be made (out of memory, or no such descriptor).
// `handler` runs when `fd` is readable (or hung up).
Source io(sd_event *loop, int fd, Handler handler);
// Made disarmed; fires once for each armAt().
Source timer(sd_event *loop, Handler handler);
// Runs after each event the loop handled.
Source post(sd_event *loop, Handler handler);

// False when sd-event refused (out of memory): the timer will not fire.
[[nodiscard]] bool armAt(sd_event_source *timer, Clock::time_point when);
// A timer it cannot disarm fires once more: every handler checks what is due.
void disarm(sd_event_source *timer);

} // namespace eventloop
