#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace settingsstore {

// Replaces the file at `path` with `content` so that a crash at any moment leaves either the
// old or the new file: a temporary file in the same directory is written, synced and renamed
// over `path`, then the directory is synced. What is in its place is replaced, never followed
// or written through (a link, a FIFO). An existing file keeps its mode, or with `OwnerOnly`
// the file is the owner's alone (0600) whatever it was. On failure the old file is untouched,
// no temporary file is left behind, and false is returned. Temporary files
// ("<path>.tmp.<pid>.<n>") left by writers that were killed are removed.
enum class Access { Kept, OwnerOnly };
bool writeFileAtomically(const std::string &path, const std::string &content, Access access = Access::Kept);

// The directory a file is in: "." for a bare name.
std::string directoryOf(const std::string &path);

// The longest file readFile() reads: none of ours comes near it (100,000 numbers are 1.3 MB).
inline constexpr off_t kReadLimit = 64 << 20;
// Reads a whole file; false when it cannot be opened or read, is not a regular file (a FIFO in
// its place would hold the reader for ever) or is longer than kReadLimit (errno EFBIG).
bool readFile(const std::string &path, std::string &content);

// A file of the user's folders, which may be anything: the regular file at `path` is handed to
// `take` piece by piece, its first `limit` bytes at most. It is opened without waiting (a FIFO
// in its place would hold the reader for ever) and, unless `followLink`, not through a link.
// Missing and Failed say why in `why`, from generic_category (a thread may call it, unlike
// strerror); Cut: the file is longer than `limit`.
enum class ReadEnd { Whole, Cut, Missing, Failed };
ReadEnd readFileBounded(const std::string &path, size_t limit, bool followLink,
                        const std::function<void(std::string_view)> &take, std::string &why);

} // namespace settingsstore
