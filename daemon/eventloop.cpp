#include "daemon/eventloop.h"

#include <ctime>

namespace eventloop {

Source io(sd_event *loop, int fd, uint32_t events, sd_event_io_handler_t handler, void *userdata)
{
    sd_event_source *source = nullptr;
    return Source(sd_event_add_io(loop, &source, fd, events, handler, userdata) >= 0 ? source : nullptr);
}

Source timer(sd_event *loop, sd_event_time_handler_t handler, void *userdata)
{
    sd_event_source *source = nullptr;
    // Accuracy 1 us: the default (250 ms) would let a 20 ms retry wait a quarter of a second.
    if (sd_event_add_time(loop, &source, CLOCK_MONOTONIC, UINT64_MAX, 1, handler, userdata) < 0)
        return nullptr;
    sd_event_source_set_enabled(source, SD_EVENT_OFF);
    return Source(source);
}

void armAt(sd_event_source *timer, Clock::time_point when)
{
    const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    sd_event_source_set_time(timer, static_cast<uint64_t>(usec > 0 ? usec : 1));
    sd_event_source_set_enabled(timer, SD_EVENT_ONESHOT);
}

void disarm(sd_event_source *timer)
{
    sd_event_source_set_enabled(timer, SD_EVENT_OFF);
}

} // namespace eventloop
