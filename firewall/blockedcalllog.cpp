#include "firewall/blockedcalllog.h"

#include "settingsstore/atomicfile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace control::calllog {

namespace {

class FileLock
{
public:
    // Tries for at most `patience`: any local process that can open the lock file could
    // otherwise stall its taker for as long as it likes.
    FileLock(const std::string &path, std::chrono::milliseconds patience)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600))
    {
        if (m_fd < 0)
            return;
        // A lock file made by an older version may be open to others.
        ::fchmod(m_fd, 0600);
        const auto giveUp = std::chrono::steady_clock::now() + patience;
        while (!(m_held = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0)) {
            m_busy = errno == EWOULDBLOCK;
            if ((!m_busy && errno != EINTR) || std::chrono::steady_clock::now() >= giveUp)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        m_busy = m_busy && !m_held;
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    bool held() const { return m_held; }
    bool busy() const { return m_busy; }

private:
    int m_fd;
    bool m_held = false;
    bool m_busy = false;
};

// Cf characters that change how a line reads or hide text, and the separators.
bool isHidden(char32_t c)
{
    return c == 0xAD || c == 0x61C || c == 0x180E || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E)
        || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

// The code point at `text[pos]` and its length in bytes; length 0 for a byte that does not
// begin a well-formed UTF-8 sequence.
std::pair<char32_t, size_t> decode(std::string_view text, size_t pos)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return {lead, 1};
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || pos + length > text.size())
        return {0, 0};
    char32_t c = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return {0, 0};
        c = (c << 6) | (byte(i) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return {0, 0};
    return {c, length};
}

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

std::string oneLine(std::string_view number)
{
    std::string line;
    line.reserve(number.size());
    for (size_t pos = 0; pos < number.size();) {
        const auto [c, length] = decode(number, pos);
        if (length == 0 || c < 0x20 || (c >= 0x7F && c <= 0x9F) || isHidden(c)) {
            line += "\xEF\xBF\xBD"; // U+FFFD
            pos += std::max<size_t>(length, 1);
            continue;
        }
        line.append(number.substr(pos, length));
        pos += length;
    }
    return line;
}

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
    if (!readFile(logPath, text))
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
        result.written = writeFileAtomically(logPath, format(entries));
        if (!result.written)
            entries.insert(position, std::move(removed));
    }
    result.entries = std::move(entries);
    return result;
}

} // namespace control::calllog
