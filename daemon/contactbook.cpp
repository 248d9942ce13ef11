#include "daemon/contactbook.h"

#include "daemon/reporter.h"
#include "daemon/vcard.h"
#include "settingsstore/atomicfile.h"

#include <cstdlib>
#include <filesystem>
#include <sys/inotify.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr uint32_t kChanges =
    IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// A folder tree deeper than this is no address book's.
constexpr int kMaxDepth = 8;

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
    , m_settle(eventloop::timer(loop, [this] { read(); }))
    , m_eds(
          loop,
          [this](bool running, const std::vector<std::string> &names) {
              std::string books;
              for (const std::string &name : names)
                  books += (books.empty() ? "" : ", ") + name;
              m_reporter.inform(
                  !running ? "evolution-data-server is not running: its address books are read once it starts"
                      : books.empty() ? "evolution-data-server has no address book to read"
                                      : "white-list mode lets the owner's contacts through: those of the address "
                                        "books of evolution-data-server ("
                          + books + ")");
          },
          [this] { index(); })
{
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify >= 0)
        m_changes = eventloop::io(loop, m_inotify, [this] {
            char events[4096];
            while (::read(m_inotify, events, sizeof events) > 0) { }
            eventloop::armAt(m_settle.get(), eventloop::Clock::now() + kSettle);
        });
    read();
}

ContactBook::~ContactBook()
{
    m_changes.reset();
    if (m_inotify >= 0)
        ::close(m_inotify);
}

// Every folder of the book is watched as it is read, and the one it is made in: watches that
// are there already are kept (inotify gives a folder one watch), those of folders gone went
// with them.
void ContactBook::read()
{
    namespace fs = std::filesystem;
    const auto watch = [this](const std::string &folder, uint32_t changes) {
        if (m_inotify >= 0)
            ::inotify_add_watch(m_inotify, folder.c_str(), changes);
    };
    watch(control::directoryOf(m_directory), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
    watch(m_directory, kChanges);
    m_fileNumbers.clear();
    std::error_code error;
    for (fs::recursive_directory_iterator it(m_directory, error), end; !error && it != end; it.increment(error)) {
        std::string text;
        if (it.depth() >= kMaxDepth)
            it.disable_recursion_pending();
        else if (it->is_directory(error))
            watch(it->path(), kChanges);
        else if (it->path().extension() == ".vcf" && it->is_regular_file(error) && control::readFile(it->path(), text))
            for (std::string &number : control::vcard::telephoneNumbers(text))
                m_fileNumbers.push_back(std::move(number));
    }
    index();
    const size_t count = m_fileNumbers.size();
    if (std::exchange(m_told, true))
        return;
    if (fs::is_directory(m_directory, error))
        m_reporter.inform("white-list mode lets the owner's contacts through: " + std::to_string(count)
                          + " numbers of the vCards of KPeople (Plasma Mobile's address book) in " + m_directory);
    else
        m_reporter.inform("white-list mode lets the owner's contacts through, but no address book is there to read: "
                          "the vCards of KPeople (Plasma Mobile's address book) are read once "
                          + m_directory + " is made");
}

void ContactBook::index()
{
    control::FirewallSettings numbers;
    numbers.blacklistMode = true;
    numbers.blacklist = m_fileNumbers;
    const std::vector<std::string> kept = m_eds.numbers();
    numbers.blacklist.insert(numbers.blacklist.end(), kept.begin(), kept.end());
    m_numbers.emplace(numbers, m_region);
}

bool ContactBook::has(std::string_view number) const
{
    return m_numbers && m_numbers->blocks(number);
}
