#pragma once

#include "daemon/callwatcher.h"

#include <chrono>
#include <functional>
#include <list>
#include <string>
#include <vector>

// The address books of evolution-data-server on the session bus, which GNOME Contacts and
// GNOME Calls keep on Phosh. Whenever its source registry is there (at the start, or when it
// starts or restarts) and whenever a source is added or removed, the enabled address books are
// opened on the daemon's loop, and
// `opened` is told their names (or that the service is not running). A caller is then looked up in each with the
// service's own phone-number query; an answer not come within kAnswerWait counts as none, and the caller is judged by
// the lists alone. Nothing is written there; the service is not started for it.
class EdsAddressBooks
{
public:
    static constexpr std::chrono::milliseconds kAnswerWait{50};

    using Opened = std::function<void(bool running, const std::vector<std::string> &names)>;

    EdsAddressBooks(sd_event *loop, Opened opened);
    EdsAddressBooks(const EdsAddressBooks &) = delete;
    EdsAddressBooks &operator=(const EdsAddressBooks &) = delete;

    // Whether a contact has `number` (an international form where there is one).
    bool has(const std::string &number) const;

private:
    struct Book
    {
        EdsAddressBooks *books;
        std::string name; // as the owner knows it
        std::string path;
        std::string service;
        CallWatcher::Slot question{nullptr, sd_bus_slot_unref}; // while it is being opened
    };

    void list();
    void open(const std::string &uid, const std::string &name);
    // Once every book has answered.
    void tellOpened();
    static int onChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onSources(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onBook(sd_bus_message *message, void *book, sd_bus_error *error);
    static int onOpen(sd_bus_message *message, void *book, sd_bus_error *error);

    CallWatcher::Bus m_bus{nullptr, sd_bus_flush_close_unref};
    Opened m_opened;
    CallWatcher::Slot m_sources{nullptr, sd_bus_slot_unref};
    std::list<Book> m_books; // those being opened, and those open
};
