#include "port_holders.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <sstream>
#include <string_view>

#include "port_safety.h"
#include "printable_text.h"
#include "small_file.h"

namespace portlock {
namespace {

namespace fs = std::filesystem;

// The pseudo-terminal multiplexer (/dev/ptmx): each descriptor on it is the master side of one
// pseudo-terminal, named in its /proc fdinfo as "tty-index".
bool IsPtyMaster(const struct stat& st) {
    return S_ISCHR(st.st_mode) && major(st.st_rdev) == 5 && minor(st.st_rdev) == 2;
}

// The index N of a /dev/pts/N device; none for any other device.
std::optional<int> PtyIndex(const std::string& devicePath) {
    std::error_code error;
    const std::string path = fs::canonical(devicePath, error).string();
    constexpr std::string_view kPts = "/dev/pts/";
    if (error || !path.starts_with(kPts)) {
        return std::nullopt;
    }
    int index = -1;
    const char* digits = path.data() + kPts.size();
    const auto [end, result] = std::from_chars(digits, path.data() + path.size(), index);
    if (result != std::errc() || end != path.data() + path.size()) {
        return std::nullopt;
    }
    return index;
}

// Whether the fdinfo of a pseudo-terminal master names the given index.
bool MasterIndexIs(const std::string& fdinfo, int index) {
    const auto text = ReadStart(fdinfo);
    const std::string key = "tty-index:";
    const auto at = text ? text->find(key) : std::string::npos;
    if (at == std::string::npos) {
        return false;
    }
    std::size_t from = at + key.size();
    while (from < text->size() && ((*text)[from] == '\t' || (*text)[from] == ' ')) {
        ++from;
    }
    int found = -1;
    std::from_chars(text->data() + from, text->data() + text->size(), found);
    return found == index;
}

// What one process's open descriptors say about the device.
struct HolderFacts {
    bool holdsDevice = false;  // a descriptor on the device itself
    bool holdsMaster = false;  // a descriptor on the master side of the device's pseudo-terminal
};

HolderFacts Inspect(const std::string& pid, dev_t device, std::optional<int> ptyIndex) {
    HolderFacts facts;
    const std::string fdDir = "/proc/" + pid + "/fd/";
    DIR* dir = ::opendir(fdDir.c_str());
    if (dir == nullptr) {
        return facts;  // gone, or not ours to inspect
    }
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st {};
        if (entry->d_name[0] == '.' || ::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0) {
            continue;
        }
        if (S_ISCHR(st.st_mode) && st.st_rdev == device) {
            facts.holdsDevice = true;
        } else if (ptyIndex && IsPtyMaster(st) &&
                   MasterIndexIs("/proc/" + pid + "/fdinfo/" + entry->d_name, *ptyIndex)) {
            facts.holdsMaster = true;
        }
    }
    ::closedir(dir);
    return facts;
}

// A kernel thread's flag in the flags field of /proc/PID/stat.
constexpr unsigned long kKernelThreadFlag = 0x00200000;  // PF_KTHREAD

bool IsKernelThread(const std::string& statLine) {
    // pid (comm) state ppid pgrp session tty_nr tpgid flags ...
    const std::size_t commEnd = statLine.rfind(')');
    if (commEnd == std::string::npos) {
        return false;
    }
    std::istringstream fields(statLine.substr(commEnd + 1));
    std::string skipped;
    for (int field = 3; field < 9; ++field) {
        fields >> skipped;
    }
    unsigned long flags = 0;
    return fields >> flags && (flags & kKernelThreadFlag) != 0;
}

// Whether a character device is a serial line: a terminal the kernel lists in its tty class
// (sysfs leaves out the slave sides of pseudo-terminals, majors 136 to 143), but none of the
// virtual consoles, /dev/tty, /dev/console and the multiplexer, which every desktop holds.
bool IsSerialLine(dev_t device) {
    const unsigned deviceMajor = major(device);
    const unsigned deviceMinor = minor(device);
    if (deviceMajor >= 136 && deviceMajor <= 143) {
        return true;
    }
    if ((deviceMajor == 4 && deviceMinor < 64) || deviceMajor == 5) {
        return false;
    }
    std::error_code error;
    const fs::path subsystem =
        fs::read_symlink("/sys/dev/char/" + std::to_string(deviceMajor) + ":" +
                             std::to_string(deviceMinor) + "/subsystem",
                         error);
    return !error && subsystem.filename() == "tty";
}

bool IsProcessId(const char* name) {
    if (*name == '\0') {
        return false;
    }
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

Refusal Busy(std::string holder) {
    return Refusal{EBUSY, std::move(holder)};
}

std::optional<Refusal> FindOtherHolder(const std::string& devicePath) {
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) {
        return std::nullopt;
    }
    const auto ptyIndex = PtyIndex(devicePath);
    const std::string self = std::to_string(::getpid());
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return std::nullopt;
    }
    std::optional<Refusal> refusal;
    while (const dirent* entry = ::readdir(proc)) {
        if (!IsProcessId(entry->d_name) || self == entry->d_name) {
            continue;
        }
        const HolderFacts facts = Inspect(entry->d_name, device.st_rdev, ptyIndex);
        if (facts.holdsDevice && !facts.holdsMaster) {
            refusal = Busy(std::string("held by PID ") + entry->d_name);
            refusal->pid = static_cast<pid_t>(std::stol(entry->d_name));
            break;
        }
    }
    ::closedir(proc);
    return refusal;
}

std::optional<bool> UsesSerialPort(pid_t pid) {
    const std::string process = "/proc/" + std::to_string(pid);
    const auto stat = ReadStart(process + "/stat", 1024);
    if (!stat) {
        return std::nullopt;
    }
    if (IsKernelThread(*stat)) {
        return false;
    }
    const auto controlling = portsafety::ControllingTerminalOf(*stat);
    DIR* dir = ::opendir((process + "/fd").c_str());
    if (dir == nullptr) {
        return std::nullopt;
    }
    bool uses = false;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st {};
        if (entry->d_name[0] != '.' && ::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 &&
            S_ISCHR(st.st_mode) && st.st_rdev != controlling && IsSerialLine(st.st_rdev)) {
            uses = true;
            break;
        }
    }
    ::closedir(dir);
    return uses;
}

std::string ProcessName(pid_t pid) {
    const std::string number = "PID " + std::to_string(pid);
    auto command = ReadStart("/proc/" + std::to_string(pid) + "/comm");
    if (!command) {
        return number;
    }
    while (!command->empty() && command->back() == '\n') {
        command->pop_back();
    }
    return command->empty() ? number : PrintableText(*command) + " (" + number + ")";
}

}  // namespace portlock
