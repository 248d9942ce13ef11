#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The blocked-call log: two lines per call, the caller's number (CallerId::logged(): "unknown"
// for a call without one) and a detail line. Lines end in LF or CRLF (carriage returns at a line's end are not
// part of it). An empty line where a number is expected is skipped; a number line at the end
// with no line after it has an empty detail. The daemon appends, the window rewrites; both
// hold an exclusive flock() on a separate lock file (never renamed) meanwhile. The lock file
// and a new log are the owner's alone: anyone who can open the lock can stall the daemon.
namespace firewall::calllog {

struct Entry
{
    std::string number;
    std::string detail;
    bool operator==(const Entry &o) const { return number == o.number && detail == o.detail; }
};

std::vector<Entry> parse(std::string_view text);
// The same entries, as views into `text`, one by one; true when the text ends after a number
// line that has no detail line yet.
bool forEachEntry(std::string_view text,
                  const std::function<void(std::string_view number, std::string_view detail)> &take);

// Each entry as two lines, then one empty line (the form the log has after a rewrite).
std::string format(const std::vector<Entry> &entries);
// A missing or unreadable log reads as empty.
std::vector<Entry> read(const std::string &logPath);

// What to append to `log` to add `entry`: a log that ends inside an entry (a last line
// without its line end, a number without its detail line) is completed first, so that every
// entry before and after reads as written.
std::string appendText(std::string_view log, const Entry &entry);

// Where an append left the log. While the log is still that file at that size, it ends with a
// whole entry and the next append need not read it (a rewrite renames a new file in place).
struct AppendMark
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
};

enum class AppendResult { Written, Busy, Failed };

// The longest a writer that waits for the lock waits.
inline constexpr std::chrono::milliseconds kLockPatience{2000};

// Appends appendText() for each entry with a single write() under the lock. All or nothing: a
// write that fails or comes up short is cut back off, so the log is as before (Failed, errno
// set; EFBIG for a log longer than settingsstore::kReadLimit, which is no log of ours). A lock
// held by someone else gives Busy: at once with `wait` false, so that a caller with calls to
// answer never waits on another process, else after kLockPatience. `mark`, when given, spares
// a frequent appender reading the whole log each time.
AppendResult append(const std::string &logPath, const std::string &lockPath, const std::vector<Entry> &entries,
                    AppendMark *mark, bool wait);
// One entry, waiting for the lock.
bool append(const std::string &logPath, const std::string &lockPath, const Entry &entry, AppendMark *mark = nullptr);

struct RemoveResult
{
    bool written = false;
    std::vector<Entry> entries; // the log's entries afterwards, as on disk
};

// Under the lock: re-reads the log, removes the entry at `index` if it still equals
// `expected` (else the first entry that does; else none) and replaces the log atomically.
// Entries appended since the caller read the log are kept. A lock not had within
// kLockPatience writes nothing.
RemoveResult remove(const std::string &logPath, const std::string &lockPath, size_t index, const Entry &expected);

} // namespace firewall::calllog
