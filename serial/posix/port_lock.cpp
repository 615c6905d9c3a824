// Who else has a serial device open, and the UUCP lock files that serial programs share.
#include "port_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>

namespace portlock {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> g_lockDirectories;

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

// The start of a small text file (at most 255 bytes); none when it cannot be read.
std::optional<std::string> ReadStart(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return std::nullopt;
    }
    char text[256];
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got < 0) {
        return std::nullopt;
    }
    return std::string(text, static_cast<std::size_t>(got));
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
        if (entry->d_name[0] == '.' || ::stat((fdDir + entry->d_name).c_str(), &st) != 0) {
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

std::optional<fs::path> UsableLockDirectory() {
    for (const auto& directory : LockDirectories()) {
        std::error_code error;
        if (fs::is_directory(directory, error) &&
            ::access(directory.c_str(), W_OK | X_OK) == 0) {
            return directory;
        }
    }
    return std::nullopt;
}

// Makes the lock file at once with its whole text, through a temporary file linked into
// place, so that no other program ever reads it half written. 0, or the errno (EEXIST when a
// lock file is there).
int CreateLockFile(const fs::path& file) {
    std::string temporary = (file.parent_path() / "LTMP.XXXXXX").string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    int error = 0;
    if (::write(fd, text, static_cast<std::size_t>(length)) != length ||
        ::fchmod(fd, 0644) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    ::close(fd);
    if (error == 0 && ::link(temporary.c_str(), file.c_str()) != 0) {
        error = errno;
    }
    ::unlink(temporary.c_str());
    return error;
}

Refusal Busy(std::string holder) {
    return Refusal{EBUSY, std::move(holder)};
}

}  // namespace

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
            break;
        }
    }
    ::closedir(proc);
    return refusal;
}

bool ProcessExists(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

std::vector<fs::path> LockDirectories() {
    if (!g_lockDirectories.empty()) {
        return g_lockDirectories;
    }
    return {"/run/lock", "/var/lock"};
}

void SetLockDirectories(std::vector<fs::path> directories) {
    g_lockDirectories = std::move(directories);
}

std::string LockFileName(const std::string& devicePath) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(devicePath, error);
    if (error) {
        resolved = devicePath;
    }
    std::string name = resolved.string();
    if (name.starts_with("/dev/")) {
        name.erase(0, 5);
    } else {
        name = resolved.filename().string();
    }
    for (char& c : name) {
        c = c == '/' ? '_' : c;
    }
    return "LCK.." + name;
}

std::optional<pid_t> LockOwner(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\n");
    const auto last = text.find_last_not_of(" \t\n");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    int pid = 0;
    const char* end = text.data() + last + 1;
    const auto [stop, result] = std::from_chars(text.data() + first, end, pid);
    if (result != std::errc() || stop != end || pid <= 0) {
        return std::nullopt;
    }
    return static_cast<pid_t>(pid);
}

UucpLock& UucpLock::operator=(UucpLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_file = std::exchange(other.m_file, {});
    }
    return *this;
}

void UucpLock::Release() {
    if (m_file.empty()) {
        return;
    }
    // Another program may have taken over a lock it judged stale; its file stays.
    const auto text = ReadStart(m_file.string());
    if (text && LockOwner(*text) == ::getpid()) {
        ::unlink(m_file.c_str());
    }
    m_file.clear();
}

LockOutcome TakeLock(const std::string& devicePath) {
    const auto directory = UsableLockDirectory();
    if (!directory) {
        return {};
    }
    const fs::path file = *directory / LockFileName(devicePath);
    // A few rounds: a lock file can vanish or turn stale between two looks.
    for (int round = 0; round < 3; ++round) {
        const int error = CreateLockFile(file);
        if (error == 0) {
            return {UucpLock(file), std::nullopt};
        }
        if (error != EEXIST) {
            return {{}, Refusal{error, "lock file " + file.string()}};
        }
        const auto text = ReadStart(file.string());
        if (!text) {
            continue;  // removed meanwhile
        }
        const auto owner = LockOwner(*text);
        if (!owner) {
            return {{}, Busy("locked in " + file.string())};
        }
        if (ProcessExists(*owner)) {
            return {{}, Busy("locked by PID " + std::to_string(*owner) + " in " + file.string())};
        }
        ::unlink(file.c_str());  // its process is gone
    }
    return {{}, Busy("locked in " + file.string())};
}

LockOutcome Claim(const std::string& devicePath) {
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) {
        return {};  // nothing to share; opening it will say what it is
    }
    if (auto holder = FindOtherHolder(devicePath)) {
        return {{}, std::move(holder)};
    }
    return TakeLock(devicePath);
}

}  // namespace portlock
