#include "daemon/contacts/contactbook.h"

#include "daemon/contacts/vcard.h"
#include "daemon/runtime/reporter.h"
#include "settingsstore/atomicfile.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <set>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

constexpr uint32_t kChanges =
    IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kMade = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;

// The numbers of one vCard file, read up to `limit` bytes; why not all, in `why`.
std::vector<std::string> numbersOfFile(const std::string &path, size_t limit, std::string &why)
{
    vcard::TelephoneReader reader;
    const auto feed = [&reader](std::string_view piece) { reader.feed(piece); };
    if (settingsstore::readFileBounded(path, limit, true, feed, why) == settingsstore::ReadEnd::Cut)
        why = "larger than a contact: only its first " + std::to_string(limit >> 20) + " MiB read";
    return reader.finish();
}

} // namespace

std::string ContactBook::kpeopleDirectory()
{
    const char *data = std::getenv("XDG_DATA_HOME");
    const char *home = std::getenv("HOME");
    const std::string base = data != nullptr && *data == '/' ? data
        : home != nullptr                                    ? std::string(home) + "/.local/share"
                                                             : std::string();
    return base.empty() ? std::string() : base + "/kpeoplevcard";
}

ContactBook::ContactBook(sd_event *loop, std::string directory, std::string region, Reporter &reporter)
    : m_directory(std::move(directory))
    , m_region(std::move(region))
    , m_reporter(reporter)
    , m_settle(eventloop::timer(loop, [this] { reread(true); }))
    , m_eds(
          loop,
          [this](bool running, const std::vector<std::string> &names) {
              std::string books;
              for (const std::string &name : names)
                  books += (books.empty() ? "" : ", ") + name;
              m_reporter.inform(
                  !running && books.empty()
                      ? "evolution-data-server is not running: its address books are read once it starts"
                      : !running
                      ? "evolution-data-server is not running: the numbers read last from its address books (" + books
                          + ") count until it is back and says a book is gone"
                      : books.empty()
                      ? "evolution-data-server has no address book to read"
                      : "white-list mode lets the owner's contacts through: those of the address books of "
                        "evolution-data-server ("
                          + books + ")");
          },
          [this] { reread(false); })
{
    m_inotify.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (m_inotify.valid())
        m_changes = eventloop::io(loop, m_inotify.get(), [this] {
            char events[4096];
            while (::read(m_inotify.get(), events, sizeof events) > 0) { }
            if (!eventloop::armAt(m_settle.get(), eventloop::Clock::now() + kSettle))
                reread(true); // at once, rather than never
        });
    m_finished.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (m_finished.valid())
        m_finishedSource = eventloop::io(loop, m_finished.get(), [this] {
            eventfd_t count = 0;
            ::eventfd_read(m_finished.get(), &count);
            take();
        });
    // The first reading before the first call is answered (calls wait in the socket's
    // backlog meanwhile): a contact calling at once is known.
    m_filesAsked = true;
    start(false);
}

ContactBook::~ContactBook()
{
    m_stopping = true;
    if (m_reader.joinable())
        m_reader.join();
}

void ContactBook::setRegion(std::string region)
{
    m_region = std::move(region);
    reread(false);
}

void ContactBook::reread(bool files)
{
    (files ? m_filesAsked : m_indexAsked) = true;
    start();
}

void ContactBook::start(bool beside)
{
    if (m_reading != nullptr || !(m_filesAsked || m_indexAsked))
        return;
    m_reading = std::make_unique<Reading>();
    m_reading->readFiles = m_filesAsked;
    m_reading->region = m_region;
    if (!m_filesAsked)
        m_reading->fileNumbers = m_fileNumbers;
    m_reading->edsNumbers = m_eds.numbers();
    m_filesAsked = m_indexAsked = false;
    const auto work = [this] {
        read(*m_reading);
        ::eventfd_write(m_finished.get(), 1);
    };
    if (beside && m_finished.valid()) {
        try {
            m_reader = std::thread(work);
            return;
        } catch (const std::system_error &error) {
            m_reporter.report(Fault::Contacts, std::string("the contacts are read before the calls: ") + error.what());
        }
    }
    read(*m_reading);
    take();
}

// Every folder of the book is watched as it is read, and the nearest folder above it that is
// there, to see it made: watches that are there already are kept (inotify gives a folder one
// watch), those of folders gone went with them, and those of folders no longer read (moved
// away, or past kMaxFolders) are let go. The folder above is watched before the book is
// looked for, and watched anew while a folder below it was made meanwhile (mkdir -p): a book
// made at any moment is seen, by the watch or by the look.
void ContactBook::read(Reading &reading)
{
    const auto nearestAbove = [this] {
        std::string above = settingsstore::directoryOf(m_directory);
        while (above.size() > 1 && ::access(above.c_str(), F_OK) != 0)
            above = settingsstore::directoryOf(above);
        return above;
    };
    int ancestor = -1;
    std::string watched;
    for (std::string above = nearestAbove(); m_inotify.valid() && m_directory.rfind('/', 0) == 0 && above != watched;
         above = nearestAbove()) {
        if (ancestor >= 0 && ancestor != m_ancestorWatch)
            ::inotify_rm_watch(m_inotify.get(), ancestor);
        ancestor = ::inotify_add_watch(m_inotify.get(), above.c_str(), kMade);
        watched = above;
    }
    if (ancestor != m_ancestorWatch && m_ancestorWatch >= 0)
        ::inotify_rm_watch(m_inotify.get(), m_ancestorWatch);
    m_ancestorWatch = ancestor;
    struct stat st = {};
    reading.directoryThere = ::stat(m_directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (reading.readFiles && reading.directoryThere)
        readFolder(m_directory, 0, reading);
    if (reading.readFiles) {
        for (const int watch : m_folderWatches) {
            if (reading.watches.count(watch) == 0 && watch != m_ancestorWatch)
                ::inotify_rm_watch(m_inotify.get(), watch);
        }
        m_folderWatches = std::move(reading.watches);
    }
    std::vector<std::string> numbers = reading.fileNumbers; // kept for a re-index without a re-read
    numbers.insert(numbers.end(), reading.edsNumbers.begin(), reading.edsNumbers.end());
    reading.index =
        std::make_unique<firewall::CallScreen>(firewall::CallScreen::listing(std::move(numbers), reading.region));
}

// Links to folders are not followed (a loop of them would never end); links to files are.
void ContactBook::readFolder(const std::string &folder, int depth, Reading &reading)
{
    if (reading.folders++ == kMaxFolders)
        reading.passedOver.emplace_back(m_directory, "its folders past the first " + std::to_string(kMaxFolders));
    if (reading.folders > kMaxFolders)
        return;
    if (m_inotify.valid()) {
        const int watch = ::inotify_add_watch(m_inotify.get(), folder.c_str(), kChanges);
        if (watch >= 0)
            reading.watches.insert(watch);
        else // said once, as each cause is
            reading.passedOver.emplace_back(
                m_directory, "the changes in some of its folders (" + std::generic_category().message(errno) + ")");
    }
    DIR *dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        reading.passedOver.emplace_back(folder, std::generic_category().message(errno));
        return;
    }
    errno = 0;
    for (const dirent *entry = ::readdir(dir); entry != nullptr && !m_stopping; entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        const std::string path = folder + "/" + entry->d_name;
        struct stat st = {};
        if (name == "." || name == ".." || ::lstat(path.c_str(), &st) != 0) {
            continue;
        } else if (S_ISDIR(st.st_mode)) {
            if (depth + 1 < kMaxDepth)
                readFolder(path, depth + 1, reading);
        } else if (std::filesystem::path(path).extension() == ".vcf") {
            std::string why;
            for (std::string &number : numbersOfFile(path, kMaxFileBytes, why))
                reading.fileNumbers.push_back(std::move(number));
            if (!why.empty())
                reading.passedOver.emplace_back(path, why);
        }
        errno = 0;
    }
    if (errno != 0)
        reading.passedOver.emplace_back(folder, std::generic_category().message(errno));
    ::closedir(dir);
}

void ContactBook::take()
{
    if (m_reader.joinable())
        m_reader.join();
    const std::unique_ptr<Reading> reading = std::move(m_reading);
    if (reading->readFiles)
        m_fileNumbers = std::move(reading->fileNumbers);
    m_numbers = std::move(reading->index);
    if (reading->readFiles) {
        std::set<std::string> passedOver;
        for (const auto &[path, why] : reading->passedOver) {
            const std::string what = std::string(path).append(": ").append(why);
            m_reporter.report(Fault::Contacts, "a part of the owner's contacts is passed over: " + what, what);
            passedOver.insert(what);
        }
        for (const std::string &gone : m_passedOver) {
            if (passedOver.count(gone) == 0)
                m_reporter.resolved(Fault::Contacts, gone);
        }
        m_passedOver = std::move(passedOver);
    }
    if (!std::exchange(m_told, true)) {
        if (reading->directoryThere)
            m_reporter.inform("white-list mode lets the owner's contacts through: "
                              + std::to_string(m_fileNumbers.size())
                              + " numbers of the vCards of KPeople (Plasma Mobile's address book) in " + m_directory);
        else
            m_reporter.inform("white-list mode lets the owner's contacts through, but no address book is there to "
                              "read: the vCards of KPeople (Plasma Mobile's address book) are read once "
                              + m_directory + " is made");
    }
    start();
}

bool ContactBook::has(std::string_view number) const
{
    return m_numbers != nullptr && m_numbers->blocks(number);
}
