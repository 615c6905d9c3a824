// Reading small files that anybody may have put in place (a lock directory, /proc): no link is
// followed and no open waits for a writer (a FIFO).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace portlock {

// An open descriptor, closed when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&&) = delete;
    // The descriptor, -1 when none is open.
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// Opens a file for reading that neither follows a link nor waits for a writer (a FIFO).
Fd OpenForLook(const std::string& file);

// Up to limit bytes from the start of an open file; none when it cannot be read.
std::optional<std::string> ReadFrom(const Fd& fd, std::size_t limit);

// The start of a small regular text file (at most limit bytes); none when it cannot be read
// or is no regular file.
std::optional<std::string> ReadStart(const std::string& file, std::size_t limit = 255);

}  // namespace portlock
