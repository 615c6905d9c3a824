#include "small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace portlock {

Fd::~Fd() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Fd OpenForLook(const std::string& file) {
    return Fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
}

std::optional<std::string> ReadFrom(const Fd& fd, std::size_t limit) {
    std::string text(limit, '\0');
    const ssize_t got = ::read(fd.Get(), text.data(), limit);
    if (got < 0) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(got));
    return text;
}

std::optional<std::string> ReadStart(const std::string& file, std::size_t limit) {
    const Fd fd = OpenForLook(file);
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return ReadFrom(fd, limit);
}

}  // namespace portlock
