// The UUCP lock files that serial programs share.
#include "port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "small_file.h"

namespace portlock {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> g_lockDirectories;
std::function<void()> g_staleLockHook;

// The lock files this process holds now, so that a file naming this process is told apart
// from one a process with our PID left behind.
std::mutex g_heldMutex;
std::multiset<std::string> g_heldLocks;

bool HeldHere(const fs::path& file) {
    const std::lock_guard<std::mutex> guard(g_heldMutex);
    return g_heldLocks.count(file.string()) != 0;
}

// How much later than its lock file's time a holder may seem to have started: the boot time
// is given in whole seconds, and some file systems keep whole seconds too.
constexpr double kStartTimeSlackSeconds = 2.0;

std::optional<fs::path> UsableLockDirectory() {
    for (const auto& directory : LockDirectories()) {
        std::error_code error;
        if (fs::is_directory(directory, error) && ::access(directory.c_str(), W_OK | X_OK) == 0) {
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
    if (::write(fd, text, static_cast<std::size_t>(length)) != length || ::fchmod(fd, 0644) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    ::close(fd);
    if (error == 0 && ::link(temporary.c_str(), file.c_str()) != 0) {
        error = errno;
    }
    ::unlink(temporary.c_str());
    return error;
}

// The boot time in seconds since the epoch ("btime" of /proc/stat).
std::optional<long long> BootTime() {
    std::ifstream stat("/proc/stat");
    for (std::string line; std::getline(stat, line);) {
        long long seconds = 0;
        if (line.starts_with("btime ") &&
            std::from_chars(line.data() + 6, line.data() + line.size(), seconds).ec ==
                std::errc()) {
            return seconds;
        }
    }
    return std::nullopt;
}

// Field 22 of /proc/PID/stat: the start in clock ticks after boot. The name in field 2 may
// hold blanks and parentheses, so fields are counted from its closing parenthesis.
std::optional<unsigned long long> StartTicks(pid_t pid) {
    const auto text = ReadStart("/proc/" + std::to_string(pid) + "/stat", 1024);
    const auto close = text ? text->rfind(')') : std::string::npos;
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(text->substr(close + 1));
    std::string field;
    for (int number = 3; number <= 22; ++number) {
        if (!(fields >> field)) {
            return std::nullopt;
        }
    }
    unsigned long long ticks = 0;
    const char* end = field.data() + field.size();
    const auto [stop, result] = std::from_chars(field.data(), end, ticks);
    if (result != std::errc() || stop != end) {
        return std::nullopt;
    }
    return ticks;
}

// The parts of a lock file found at its path that decide what becomes of it.
struct LockLook {
    enum class Kind { Missing, Refusing, Text } kind;
    Fd fd;              // open on the file read, for its removal
    struct stat st {};  // of the file read
    std::string text;
};

LockLook LookAt(const fs::path& file) {
    LockLook look{LockLook::Kind::Refusing, OpenForLook(file.string()), {}, {}};
    if (look.fd.Get() < 0) {
        // A link (ELOOP), or a file we may not read: nothing to judge, so it stands.
        if (errno == ENOENT) {
            look.kind = LockLook::Kind::Missing;
        }
        return look;
    }
    if (::fstat(look.fd.Get(), &look.st) != 0 || !S_ISREG(look.st.st_mode)) {
        look.kind = LockLook::Kind::Refusing;  // a FIFO, a directory, a device
        return look;
    }
    const auto text = ReadFrom(look.fd, 255);
    look.kind = text ? LockLook::Kind::Text : LockLook::Kind::Refusing;
    look.text = text.value_or("");
    return look;
}

double ModifiedAt(const struct stat& st) {
    return static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
}

// Whether the lock's owner no longer holds it.
bool IsStale(pid_t owner, const fs::path& file, const struct stat& st) {
    if (owner == ::getpid()) {
        return !HeldHere(file);  // left by an earlier process that had our PID
    }
    if (!ProcessExists(owner)) {
        return true;
    }
    // A process that started after the file was written is not the one that wrote it.
    const auto started = ProcessStartTime(owner);
    return started && *started > ModifiedAt(st) + kStartTimeSlackSeconds;
}

// Removes the stale lock file just looked at, unless another opener got to it first: the
// removal happens under an flock on that very file and only while the path still leads to
// it, so a lock made in its place by a faster opener is never taken away.
void RemoveStale(const fs::path& file, const LockLook& look) {
    if (g_staleLockHook) {
        g_staleLockHook();
    }
    if (::flock(look.fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return;  // another opener is removing it
    }
    struct stat now {};
    if (::lstat(file.c_str(), &now) == 0 && now.st_dev == look.st.st_dev &&
        now.st_ino == look.st.st_ino) {
        ::unlink(file.c_str());
    }
}

}  // namespace

bool ProcessExists(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

std::optional<double> ProcessStartTime(pid_t pid) {
    const auto ticks = StartTicks(pid);
    const auto boot = BootTime();
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    if (!ticks || !boot || perSecond <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(*boot) +
           static_cast<double>(*ticks) / static_cast<double>(perSecond);
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

UucpLock::UucpLock(fs::path file) : m_file(std::move(file)) {
    const std::lock_guard<std::mutex> guard(g_heldMutex);
    g_heldLocks.insert(m_file.string());
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
    {
        const std::lock_guard<std::mutex> guard(g_heldMutex);
        if (const auto at = g_heldLocks.find(m_file.string()); at != g_heldLocks.end()) {
            g_heldLocks.erase(at);
        }
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
    for (int round = 0; round < 5; ++round) {
        const int error = CreateLockFile(file);
        if (error == 0) {
            return {UucpLock(file), std::nullopt};
        }
        if (error != EEXIST) {
            return {{}, Refusal{error, "lock file " + file.string()}};
        }
        const LockLook look = LookAt(file);
        if (look.kind == LockLook::Kind::Missing) {
            continue;  // removed meanwhile
        }
        const auto owner = look.kind == LockLook::Kind::Text ? LockOwner(look.text) : std::nullopt;
        if (!owner) {
            return {{}, Busy("locked in " + file.string())};
        }
        if (!IsStale(*owner, file, look.st)) {
            return {{}, Busy("locked by PID " + std::to_string(*owner) + " in " + file.string())};
        }
        RemoveStale(file, look);
    }
    return {{}, Busy("locked in " + file.string())};
}

void SetStaleLockHook(std::function<void()> hook) {
    g_staleLockHook = std::move(hook);
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
