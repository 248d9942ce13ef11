#pragma once

#include "daemon/runtime/bus.h"
#include "daemon/runtime/eventloop.h"

#include <functional>
#include <list>
#include <string>
#include <vector>

// The address books of evolution-data-server on the session bus, which GNOME Contacts and
// GNOME Calls keep on Phosh. Whenever its source registry is there (at the start, or when it
// starts or restarts) and whenever a source is added or removed, the enabled address books are
// opened on the daemon's loop, and `opened` is told the names of those read (or that the
// registry is not running, with the names of the books whose numbers are kept). The phone
// numbers of their contacts are read then, and again whenever a book says it changed;
// `changed` is told each time. The numbers read last stay until a book is read anew or its
// source is gone: a service that hangs, fails or restarts takes no contact away. A call never
// waits for the service: its own phone-number query takes 130 ms at 10,000 contacts here, a
// scan of every contact, where the daemon's index answers in microseconds. Nothing is written
// there; the registry is never started (the address-book factory is, by opening a book, as
// by any of its clients).
class EdsAddressBooks
{
public:
    using Opened = std::function<void(bool running, const std::vector<std::string> &names)>;

    EdsAddressBooks(sd_event *loop, Opened opened, std::function<void()> changed);
    EdsAddressBooks(const EdsAddressBooks &) = delete;
    EdsAddressBooks &operator=(const EdsAddressBooks &) = delete;

    // Every phone number of every contact of the open books, as written there.
    std::vector<std::string> numbers() const;

private:
    struct Book
    {
        EdsAddressBooks *books;
        std::string uid; // its source's
        std::string name; // as the owner knows it
        std::string path;
        std::string service;
        std::vector<std::string> numbers;
        bool read = false; // its contacts, once
        bus::Slot question{nullptr, sd_bus_slot_unref}; // the open or read under way
        bus::Slot changes{nullptr, sd_bus_slot_unref}; // its signal of a change
    };

    void list();
    void open(const std::string &uid, const std::string &name);
    static void readContacts(Book &book);
    // Once every book has been opened and read, or has failed.
    void tellOpened();
    std::vector<std::string> readNames() const;
    static int onChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onSources(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onBook(sd_bus_message *message, void *book, sd_bus_error *error);
    static int onOpen(sd_bus_message *message, void *book, sd_bus_error *error);
    static int onBookChanged(sd_bus_message *message, void *book, sd_bus_error *error);
    static int onContacts(sd_bus_message *message, void *book, sd_bus_error *error);

    bus::Bus m_bus{nullptr, sd_bus_flush_close_unref};
    Opened m_opened;
    std::function<void()> m_changed;
    bool m_told = false; // which books are open, since they were last listed
    bus::Slot m_sources{nullptr, sd_bus_slot_unref};
    std::list<Book> m_books; // those being opened, and those open
};
