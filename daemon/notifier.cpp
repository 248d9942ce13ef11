#include "daemon/notifier.h"

#include "firewall/callerid.h"

#include <utility>

Notifier::Notifier(sd_event *loop, firewall::BlockedNotice notice)
    : m_loop(loop)
    , m_notice(std::move(notice))
{
}

Notifier::~Notifier()
{
    sd_bus_flush_close_unref(m_bus);
}

bool Notifier::connect()
{
    if (m_bus != nullptr && sd_bus_is_open(m_bus) > 0)
        return true;
    m_bus = sd_bus_flush_close_unref(m_bus);
    m_unanswered = 0; // the closed bus's replies never come
    sd_bus *bus = nullptr;
    // Connecting goes on in the loop: nothing here waits for the bus.
    if (sd_bus_open_user(&bus) < 0)
        return false;
    if (sd_bus_attach_event(bus, m_loop, SD_EVENT_PRIORITY_IDLE) < 0) {
        sd_bus_flush_close_unref(bus);
        return false;
    }
    m_bus = bus;
    return true;
}

void Notifier::post(const firewall::CallerId &caller)
{
    postText(m_notice.summary(caller));
}

void Notifier::postSuspended(const std::string &until)
{
    postText(m_notice.suspended(until));
}

void Notifier::postText(const std::string &summary)
{
    if (m_unanswered >= kMaxUnanswered || !connect())
        return;
    // A caller ID that is not UTF-8 cannot go on the bus; that call has no notice.
    if (sd_bus_call_method_async(m_bus, nullptr, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                 "org.freedesktop.Notifications", "Notify", onReply, this, "susssasa{sv}i", "Callvane",
                                 0U, "callvane", summary.c_str(), "", 0, 1, "desktop-entry", "s", "callvane", -1)
        >= 0)
        ++m_unanswered;
}

int Notifier::onReply(sd_bus_message * /*message*/, void *self, sd_bus_error * /*error*/)
{
    auto &notifier = *static_cast<Notifier *>(self);
    if (notifier.m_unanswered > 0)
        --notifier.m_unanswered;
    return 0;
}
