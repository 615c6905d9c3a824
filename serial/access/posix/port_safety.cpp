#include "port_safety.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <sstream>

namespace portsafety {

namespace {

bool IsProcessDirectory(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && std::all_of(name.begin(), name.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The kernel answers TIOCGSID on a terminal only to the members of its own session.
bool IsOwnControllingTerminal(int fd) {
    pid_t session = 0;
    return ioctl(fd, TIOCGSID, &session) == 0;
}

}  // namespace

int RefusalFor(int fd, const std::filesystem::path& procRoot) {
    struct stat device {};
    if (fstat(fd, &device) != 0 || !S_ISCHR(device.st_mode)) {
        return ENODEV;
    }
    if (IsOwnControllingTerminal(fd) || IsControllingTerminal(device.st_rdev, procRoot)) {
        return EBUSY;
    }
    return 0;
}

bool IsControllingTerminal(dev_t device, const std::filesystem::path& procRoot) {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(procRoot, error), end; !error && entry != end;
         entry.increment(error)) {
        if (!IsProcessDirectory(entry->path())) {
            continue;
        }
        std::ifstream stat(entry->path() / "stat");
        std::string line;
        if (std::getline(stat, line) && ControllingTerminalOf(line) == device) {
            return true;
        }
    }
    return false;
}

std::optional<dev_t> ControllingTerminalOf(const std::string& statLine) {
    // pid (comm) state ppid pgrp session tty_nr ...
    const std::size_t commEnd = statLine.rfind(')');
    if (commEnd == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(statLine.substr(commEnd + 1));
    std::string state;
    long long ppid = 0;
    long long pgrp = 0;
    long long session = 0;
    long long ttyNr = 0;
    if (!(fields >> state >> ppid >> pgrp >> session >> ttyNr) || ttyNr == 0) {
        return std::nullopt;
    }
    // The kernel's encoding: minor bits 0-7 and 20-31, major bits 8-19.
    const auto encoded = static_cast<unsigned long long>(ttyNr) & 0xFFFFFFFFull;
    const auto majorNumber = static_cast<unsigned>((encoded >> 8) & 0xFFF);
    const auto minorNumber = static_cast<unsigned>((encoded & 0xFF) | ((encoded >> 12) & 0xFFF00));
    return makedev(majorNumber, minorNumber);
}

}  // namespace portsafety
