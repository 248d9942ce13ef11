#include "blockedcalllog.h"

#include "atomicfile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace control::calllog {

namespace {

class FileLock
{
public:
    explicit FileLock(const std::string &path)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666))
    {
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    int m_fd;
};

} // namespace

namespace {

// The entries, and whether the text ends after a number line that has no detail line yet.
std::vector<Entry> parseEntries(std::string_view text, bool &detailMissing)
{
    std::vector<Entry> entries;
    size_t pos = 0;
    const auto nextLine = [&](std::string &line) {
        if (pos >= text.size())
            return false;
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view raw = text.substr(pos, end - pos);
        // CRLF reads as LF; no field ends in a carriage return, so a rewrite keeps every field.
        while (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        line.assign(raw);
        pos = end + 1;
        return true;
    };
    detailMissing = false;
    std::string number;
    while (nextLine(number)) {
        if (number.empty())
            continue;
        Entry entry{number, {}};
        detailMissing = !nextLine(entry.detail);
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace

std::vector<Entry> parse(std::string_view text)
{
    bool detailMissing = false;
    return parseEntries(text, detailMissing);
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
    std::string text;
    if (!log.empty() && log.back() != '\n')
        text += '\n';
    bool detailMissing = false;
    parseEntries(log, detailMissing);
    // The last number keeps to itself: it gets an empty detail line, so that this entry is
    // not read as its detail.
    if (detailMissing)
        text += '\n';
    return text + entry.number + '\n' + entry.detail + '\n';
}

bool append(const std::string &logPath, const std::string &lockPath, const Entry &entry, AppendMark *mark)
{
    const FileLock lock(lockPath);
    const int fd = ::open(logPath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    const bool inStep = mark != nullptr && mark->device == st.st_dev && mark->inode == st.st_ino && mark->size == st.st_size;
    std::string before;
    if (ok && !inStep) {
        before.resize(static_cast<size_t>(st.st_size));
        ok = ::pread(fd, before.data(), before.size(), 0) == static_cast<ssize_t>(before.size());
    }
    const std::string text = appendText(before, entry);
    ok = ok && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (mark != nullptr)
        *mark = ok ? AppendMark{st.st_dev, st.st_ino, st.st_size + static_cast<off_t>(text.size())} : AppendMark{};
    return (::close(fd) == 0) && ok;
}

RemoveResult remove(const std::string &logPath, const std::string &lockPath, size_t index, const Entry &expected)
{
    const FileLock lock(lockPath);
    RemoveResult result;
    result.entries = read(logPath);
    auto &entries = result.entries;
    auto victim = entries.end();
    if (index < entries.size() && entries[index] == expected)
        victim = entries.begin() + static_cast<std::ptrdiff_t>(index);
    else
        victim = std::find(entries.begin(), entries.end(), expected);
    if (victim == entries.end())
        return result;
    const Entry removed = *victim;
    const auto position = entries.erase(victim);
    result.written = writeFileAtomically(logPath, format(entries));
    if (!result.written)
        entries.insert(position, removed);
    return result;
}

} // namespace control::calllog
