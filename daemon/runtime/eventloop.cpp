#include "daemon/runtime/eventloop.h"

#include <ctime>

namespace eventloop {

namespace {

int run(void *handler)
{
    (*static_cast<Handler *>(handler))();
    return 0;
}

// The source owns its handler from here on.
Source owning(int made, sd_event_source *source, Handler *handler)
{
    const auto destroy = [](void *owned) { delete static_cast<Handler *>(owned); };
    if (made < 0 || sd_event_source_set_destroy_callback(source, destroy) < 0) {
        sd_event_source_unref(source);
        delete handler;
        return nullptr;
    }
    return Source(source);
}

} // namespace

Source io(sd_event *loop, int fd, Handler handler)
{
    auto *owned = new Handler(std::move(handler));
    sd_event_source *source = nullptr;
    const int made = sd_event_add_io(
        loop, &source, fd, EPOLLIN, [](sd_event_source *, int, uint32_t, void *h) { return run(h); }, owned);
    return owning(made, source, owned);
}

Source timer(sd_event *loop, Handler handler)
{
    auto *owned = new Handler(std::move(handler));
    sd_event_source *source = nullptr;
    // Accuracy 1 us: the default (250 ms) would let a 20 ms retry wait a quarter of a second.
    const int made = sd_event_add_time(
        loop, &source, CLOCK_MONOTONIC, UINT64_MAX, 1, [](sd_event_source *, uint64_t, void *h) { return run(h); },
        owned);
    Source timer = owning(made, source, owned);
    if (timer != nullptr)
        disarm(timer.get());
    return timer;
}

Source post(sd_event *loop, Handler handler)
{
    auto *owned = new Handler(std::move(handler));
    sd_event_source *source = nullptr;
    const auto dispatch = [](sd_event_source *, void *h) { return run(h); };
    const int made = sd_event_add_post(loop, &source, dispatch, owned);
    return owning(made, source, owned);
}

bool armAt(sd_event_source *timer, Clock::time_point when)
{
    const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    return sd_event_source_set_time(timer, static_cast<uint64_t>(usec > 0 ? usec : 1)) >= 0
        && sd_event_source_set_enabled(timer, SD_EVENT_ONESHOT) >= 0;
}

void disarm(sd_event_source *timer)
{
    sd_event_source_set_enabled(timer, SD_EVENT_OFF);
}

} // namespace eventloop
