#pragma once

#include "daemon/contacts/edsaddressbooks.h"
#include "daemon/runtime/eventloop.h"
#include "firewall/callscreen.h"
#include "settingsstore/uniquefd.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class Reporter;

// The owner's contacts, which white-list mode lets through. Two address books are read, none
// written to:
// - the vCards that Plasma Mobile's address book keeps for KPeople, the *.vcf files in
//   `directory` and its folders: read at the start, and again kSettle after the last change
//   inotify tells of (the folder, or a folder above it, made, removed or renamed too), so that
//   a contact added or removed counts from the next call after that; idle, it wakes the daemon
//   never. What is not a file, or cannot be read or watched, is passed over and said; of a file
//   no more than kMaxFileBytes is read, of the folders no more than kMaxFolders, kMaxDepth deep;
// - evolution-data-server's (EdsAddressBooks), read when opened and whenever they change.
// The numbers of both are indexed together, and compare as list entries do. After the start,
// the books are read and indexed on a thread beside the loop, and calls are judged with the
// index before until the new one is ready: a re-read never holds a call up.
// Which are read is said once, and again when evolution-data-server starts or stops.
class ContactBook
{
public:
    static constexpr std::chrono::milliseconds kSettle{100};
    // A contact's file with its photo is some hundreds of kilobytes.
    static constexpr std::size_t kMaxFileBytes = 16 << 20;
    // A folder tree deeper or wider is no address book's. Each folder read holds one of the
    // user's inotify watches, which the owner's other programs need too.
    static constexpr int kMaxDepth = 8;
    static constexpr int kMaxFolders = 256;

    // $XDG_DATA_HOME/kpeoplevcard, by default under ~/.local/share.
    static std::string kpeopleDirectory();

    ContactBook(sd_event *loop, std::string directory, std::string region, Reporter &reporter);
    ~ContactBook();
    ContactBook(const ContactBook &) = delete;
    ContactBook &operator=(const ContactBook &) = delete;

    bool has(std::string_view number) const;
    // Numbers are read in `region` from the next reading on, which starts now.
    void setRegion(std::string region);

private:
    // One reading of the books: what it needs, what it gives.
    struct Reading
    {
        bool readFiles = false; // else the vCards' numbers as read last
        std::vector<std::string> fileNumbers;
        std::vector<std::string> edsNumbers;
        std::vector<std::pair<std::string, std::string>> passedOver; // (path, why)
        int folders = 0; // read
        std::set<int> watches; // of the folders read
        bool directoryThere = false;
        std::string region; // the thread's own copy
        std::unique_ptr<firewall::CallScreen> index;
    };

    // Asks for a reading, of the vCards too or of the index alone.
    void reread(bool files);
    // Starts the reading asked for, unless one is under way: beside the loop, or here and now
    // (at the start, or where no thread is to be had).
    void start(bool beside = true);
    // Also watches the book's folders, and the nearest folder above it that is there. On the
    // thread, or at the start before there is one.
    void read(Reading &reading);
    void readFolder(const std::string &folder, int depth, Reading &reading);
    // The loop takes the reading the thread has finished.
    void take();

    std::string m_directory;
    std::string m_region;
    Reporter &m_reporter;
    settingsstore::UniqueFd m_inotify;
    int m_ancestorWatch = -1; // of the nearest folder above the book's that is there
    std::set<int> m_folderWatches; // of the book's folders, as read last
    eventloop::Source m_changes;
    eventloop::Source m_settle;
    settingsstore::UniqueFd m_finished; // an eventfd the thread signals
    eventloop::Source m_finishedSource;
    std::vector<std::string> m_fileNumbers; // of the vCards, as read last
    std::set<std::string> m_passedOver; // what of them was, and why: said once
    std::unique_ptr<firewall::CallScreen> m_numbers; // as a black list: "blocked" is listed
    bool m_filesAsked = false;
    bool m_indexAsked = false;
    std::unique_ptr<Reading> m_reading; // under way
    std::thread m_reader;
    std::atomic<bool> m_stopping{false};
    bool m_told = false; // which book is read: once
    EdsAddressBooks m_eds;
};
