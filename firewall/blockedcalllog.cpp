#include "firewall/blockedcalllog.h"

#include "settingsstore/atomicfile.h"
#include "settingsstore/uniquefd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace firewall::calllog {

namespace {

class FileLock
{
public:
    // Tries for at most `patience`: any local process that can open the lock file could
    // otherwise stall its taker for as long as it likes.
    FileLock(const std::string &path, std::chrono::milliseconds patience)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600))
    {
        if (!m_fd.valid())
            return;
        // A lock file made by an older version may be open to others.
        ::fchmod(m_fd.get(), 0600);
        const auto giveUp = std::chrono::steady_clock::now() + patience;
        while (!(m_held = ::flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0)) {
            m_busy = errno == EWOULDBLOCK;
            if ((!m_busy && errno != EINTR) || std::chrono::steady_clock::now() >= giveUp)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        m_busy = m_busy && !m_held;
    }
    // Closing the descriptor releases the lock.

    bool held() const { return m_held; }
    bool busy() const { return m_busy; }

private:
    settingsstore::UniqueFd m_fd;
    bool m_held = false;
    bool m_busy = false;
};

// The lines of a text from `pos` on.
struct Lines
{
    std::string_view text;
    size_t pos = 0;

    bool next(std::string_view &line)
    {
        if (pos >= text.size())
            return false;
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        line = text.substr(pos, end - pos);
        // CRLF reads as LF; no field ends in a carriage return, so a rewrite keeps every field.
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos = end + 1;
        return true;
    }
};

size_t linesIn(std::string_view text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// What `log` needs after it for an entry appended to read as written: the end of its last
// line, and for a number without its detail line an empty one, so that the entry is not read
// as that number's detail.
std::string completion(std::string_view log)
{
    std::string text;
    if (!log.empty() && log.back() != '\n')
        text += '\n';
    const auto countOnly = [](std::string_view, std::string_view) { return; };
    if (forEachEntry(log, countOnly))
        text += '\n';
    return text;
}

} // namespace

bool forEachEntry(std::string_view text, const std::function<void(std::string_view, std::string_view)> &take)
{
    Lines lines{text};
    std::string_view number;
    bool detailMissing = false;
    while (lines.next(number)) {
        if (number.empty())
            continue;
        std::string_view detail;
        detailMissing = !lines.next(detail);
        take(number, detail);
    }
    return detailMissing;
}

std::vector<Entry> parse(std::string_view text)
{
    std::vector<Entry> entries;
    entries.reserve(linesIn(text) / 2 + 1);
    forEachEntry(text, [&entries](std::string_view number, std::string_view detail) {
        entries.push_back({std::string(number), std::string(detail)});
    });
    return entries;
}

std::string format(const std::vector<Entry> &entries)
{
    std::string text;
    for (const Entry &entry : entries)
        text += entry.number + '\n' + entry.detail + '\n';
    return text + '\n';
}

std::vector<Entry> read(const std::string &logPath)
{
    std::string text;
    if (!settingsstore::readFile(logPath, text))
        return {};
    return parse(text);
}

std::string appendText(std::string_view log, const Entry &entry)
{
    return completion(log) + entry.number + '\n' + entry.detail + '\n';
}

AppendResult append(const std::string &logPath, const std::string &lockPath, const std::vector<Entry> &entries,
                    AppendMark *mark, bool wait)
{
    const FileLock lock(lockPath, wait ? kLockPatience : std::chrono::milliseconds(0));
    if (!lock.held())
        return lock.busy() ? AppendResult::Busy : AppendResult::Failed;
    const int fd = ::open(logPath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return AppendResult::Failed;
    int error = 0;
    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (st.st_size > settingsstore::kReadLimit)
        error = EFBIG; // it is read whole below, and the window could not read it either
    const bool inStep =
        mark != nullptr && mark->device == st.st_dev && mark->inode == st.st_ino && mark->size == st.st_size;
    // Each entry is completed against what precedes it: the log for the first, then the
    // previous entry's text (which always ends whole).
    std::string last;
    if (error == 0 && !inStep) {
        last.resize(static_cast<size_t>(st.st_size));
        if (::pread(fd, last.data(), last.size(), 0) != static_cast<ssize_t>(last.size()))
            error = errno != 0 ? errno : EIO;
    }
    std::string added;
    for (const Entry &entry : entries) {
        last = appendText(last, entry);
        added += last;
    }
    ssize_t written = -1;
    while (error == 0 && (written = ::write(fd, added.data(), added.size())) < 0 && errno == EINTR) { }
    if (error == 0 && written != static_cast<ssize_t>(added.size())) {
        error = written < 0 ? errno : ENOSPC;
        // Half an entry would put every later one out of step.
        if (written > 0 && ::ftruncate(fd, st.st_size) != 0)
            error = errno;
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (mark != nullptr)
        *mark =
            error == 0 ? AppendMark{st.st_dev, st.st_ino, st.st_size + static_cast<off_t>(added.size())} : AppendMark{};
    errno = error;
    return error == 0 ? AppendResult::Written : AppendResult::Failed;
}

bool append(const std::string &logPath, const std::string &lockPath, const Entry &entry, AppendMark *mark)
{
    return append(logPath, lockPath, std::vector<Entry>{entry}, mark, true) == AppendResult::Written;
}

RemoveResult remove(const std::string &logPath, const std::string &lockPath, size_t index, const Entry &expected)
{
    const FileLock lock(lockPath, kLockPatience);
    RemoveResult result;
    std::vector<Entry> entries = read(logPath);
    auto victim = entries.end();
    if (index < entries.size() && entries[index] == expected)
        victim = entries.begin() + static_cast<std::ptrdiff_t>(index);
    else
        victim = std::find(entries.begin(), entries.end(), expected);
    if (lock.held() && victim != entries.end()) {
        Entry removed = std::move(*victim);
        const auto position = entries.erase(victim);
        result.written = settingsstore::writeFileAtomically(logPath, format(entries));
        if (!result.written)
            entries.insert(position, std::move(removed));
    }
    result.entries = std::move(entries);
    return result;
}

} // namespace firewall::calllog
