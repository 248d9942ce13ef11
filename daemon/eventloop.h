#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include <systemd/sd-event.h>

// The daemon's parts share one sd-event loop; these own their sources. Timers are on
// CLOCK_MONOTONIC, which steady_clock is on Linux.
namespace eventloop {

using Clock = std::chrono::steady_clock;

struct Unref
{
    void operator()(sd_event_source *source) const { sd_event_source_disable_unref(source); }
};
using Source = std::unique_ptr<sd_event_source, Unref>;

// Null when the source cannot be made (out of memory, or no such descriptor).
Source io(sd_event *loop, int fd, uint32_t events, sd_event_io_handler_t handler, void *userdata);
// Made disarmed; fires once for each armAt().
Source timer(sd_event *loop, sd_event_time_handler_t handler, void *userdata);
void armAt(sd_event_source *timer, Clock::time_point when);
void disarm(sd_event_source *timer);

} // namespace eventloop
