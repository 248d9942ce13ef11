#pragma once

#include <string>

namespace control {

// Replaces the file at `path` with `content` so that a crash at any moment leaves either the
// old or the new file: a temporary file in the same directory is written, synced and renamed
// over `path`, then the directory is synced. An existing file keeps its mode. On failure the
// old file is untouched, no temporary file is left behind, and false is returned. Temporary
// files ("<path>.tmp.<pid>.<n>") left by writers that were killed are removed.
bool writeFileAtomically(const std::string &path, const std::string &content);

// The directory a file is in: "." for a bare name.
std::string directoryOf(const std::string &path);

// Reads a whole file; false when it cannot be opened or read.
bool readFile(const std::string &path, std::string &content);

} // namespace control
