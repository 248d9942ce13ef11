#pragma once

#include <cerrno>
#include <utility>

#include <unistd.h>

namespace settingsstore {

// A file descriptor owned: closed when its owner goes, or when it is given another. -1 is none.
// Closing keeps errno, as systemd's safe_close() does: what failed before it is still said.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {
    }
    UniqueFd(UniqueFd &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // The descriptor, no longer owned.
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0) {
            const int error = errno;
            ::close(m_fd);
            errno = error;
        }
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

} // namespace settingsstore
