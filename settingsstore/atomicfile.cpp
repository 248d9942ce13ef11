#include "settingsstore/atomicfile.h"

#include "settingsstore/uniquefd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace settingsstore {

std::string directoryOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

bool writeAll(int fd, const std::string &content)
{
    const char *data = content.data();
    size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

void syncDirectory(const std::string &dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string temporaryPrefix(const std::string &path)
{
    return path + ".tmp.";
}

// A writer killed mid-save leaves its whole temporary copy behind; the next save of the same
// file removes those of writers that no longer run.
void removeStaleTemporaries(const std::string &path)
{
    const std::string dir = directoryOf(path);
    const std::string prefix = temporaryPrefix(path).substr(path.rfind('/') + 1);
    DIR *listing = ::opendir(dir.c_str());
    if (listing == nullptr)
        return;
    while (const dirent *entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        char *end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (pid <= 0 || *end != '.' || pid == ::getpid())
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(listing), name.c_str(), 0);
    }
    ::closedir(listing);
}

} // namespace

bool writeFileAtomically(const std::string &path, const std::string &content, Access access)
{
    static std::atomic<unsigned> counter{0};
    removeStaleTemporaries(path);
    const std::string temp = temporaryPrefix(path) + std::to_string(::getpid()) + "." + std::to_string(counter++);

    // Created 0666 so that the umask decides, as for any new file; an old file's mode wins.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat old = {};
    bool ok = true;
    if (access == Access::OwnerOnly)
        ok = ::fchmod(fd, 0600) == 0;
    else if (::stat(path.c_str(), &old) == 0)
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    ok = ok && writeAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    syncDirectory(directoryOf(path));
    return true;
}

bool readFile(const std::string &path, std::string &content)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st = {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode) || st.st_size > kReadLimit) {
        errno = S_ISREG(st.st_mode) ? EFBIG : EINVAL;
        return false;
    }
    // Read in place, into as much as the file holds (one page more to see its end): grown
    // step by step, a settings file of 100,000 numbers cost three times its size in fresh
    // pages, and page faults are most of a daemon start.
    content.resize(static_cast<size_t>(st.st_size) + 4096);
    size_t done = 0;
    for (;;) {
        if (done == content.size() && done > size_t(kReadLimit)) {
            errno = EFBIG; // it grew while read
            return false;
        }
        if (done == content.size())
            content.resize(content.size() * 2);
        const ssize_t n = ::read(fd.get(), content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            content.resize(done);
            return n == 0;
        }
        done += static_cast<size_t>(n);
    }
}

ReadEnd readFileBounded(const std::string &path, size_t limit, bool followLink,
                        const std::function<void(std::string_view)> &take, std::string &why)
{
    const UniqueFd fd(
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW)));
    struct stat st = {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        const bool missing = errno == ENOENT;
        why = std::generic_category().message(errno);
        return missing ? ReadEnd::Missing : ReadEnd::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "not a file";
        return ReadEnd::Failed;
    }
    char buffer[65536];
    for (size_t total = 0; total < limit;) {
        const ssize_t n = ::read(fd.get(), buffer, std::min(sizeof buffer, limit - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = std::generic_category().message(errno);
            return ReadEnd::Failed;
        }
        if (n == 0)
            return ReadEnd::Whole;
        take(std::string_view(buffer, size_t(n)));
        total += size_t(n);
    }
    return ::read(fd.get(), buffer, 1) > 0 ? ReadEnd::Cut : ReadEnd::Whole;
}

} // namespace settingsstore
