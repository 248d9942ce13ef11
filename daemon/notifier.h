#pragma once

#include "firewall/blockednotice.h"

#include <string>

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

// A desktop notice (org.freedesktop.Notifications) for each blocked call, and when an emergency
// call suspends blocking, on the user's session bus, when there is one with a notification
// server. Screening never waits for it: the bus is served by the daemon's loop, a notice is
// dropped while kMaxUnanswered others wait for the server's answer, and a bus that closed is
// opened anew at the next notice.
namespace firewall {
class CallerId;
}

class Notifier
{
public:
    static constexpr int kMaxUnanswered = 8;

    Notifier(sd_event *loop, firewall::BlockedNotice notice);
    ~Notifier();
    Notifier(const Notifier &) = delete;
    Notifier &operator=(const Notifier &) = delete;

    void post(const firewall::CallerId &caller);
    // That no call is blocked until `until` (as the owner reads the time).
    void postSuspended(const std::string &until);

private:
    bool connect();
    void postText(const std::string &summary);
    static int onReply(sd_bus_message *message, void *self, sd_bus_error *error);

    sd_event *m_loop;
    firewall::BlockedNotice m_notice;
    sd_bus *m_bus = nullptr;
    int m_unanswered = 0;
};
