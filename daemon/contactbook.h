#pragma once

#include "daemon/edsaddressbooks.h"
#include "daemon/eventloop.h"
#include "firewall/callscreen.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

class Reporter;

// The owner's contacts, which white-list mode lets through. Two address books are read, none
// written to:
// - the vCards that Plasma Mobile's address book keeps for KPeople, the *.vcf files in
//   `directory` and its folders: read at the start, and again kSettle after the last change
//   inotify tells of (the folder made, removed or renamed too), so that a contact added or
//   removed counts from the next call after that; idle, it wakes the daemon never;
// - evolution-data-server's (EdsAddressBooks), read when opened and whenever they change.
// The numbers of both are indexed together, and compare as list entries do.
// Which are read is said once, and again when evolution-data-server starts or stops.
class ContactBook
{
public:
    static constexpr std::chrono::milliseconds kSettle{100};

    // $XDG_DATA_HOME/kpeoplevcard, by default under ~/.local/share.
    static std::string kpeopleDirectory();

    ContactBook(sd_event *loop, std::string directory, std::string region, Reporter &reporter);
    ~ContactBook();
    ContactBook(const ContactBook &) = delete;
    ContactBook &operator=(const ContactBook &) = delete;

    bool has(std::string_view number) const;

private:
    // Also watches the book's folders.
    void read();
    // The numbers of both books, indexed again.
    void index();

    std::string m_directory;
    std::string m_region;
    Reporter &m_reporter;
    int m_inotify = -1;
    eventloop::Source m_changes;
    eventloop::Source m_settle;
    std::vector<std::string> m_fileNumbers; // of the vCards
    std::optional<control::CallScreen> m_numbers; // as a black list: "blocked" is listed
    bool m_told = false; // which book is read: once
    EdsAddressBooks m_eds;
};
