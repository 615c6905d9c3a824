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
#include <mutex>
#include <set>

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

std::optional<fs::path> UsableLockDirectory() {
    for (const auto& directory : LockDirectories()) {
        std::error_code error;
        if (fs::is_directory(directory, error) && ::access(directory.c_str(), W_OK | X_OK) == 0) {
            return directory;
        }
    }
    return std::nullopt;
}

// The lock directories other than ours (none: all of them); one reached through a link to
// ours (/var/lock -> /run/lock) is ours.
std::vector<fs::path> OtherLockDirectories(const std::optional<fs::path>& ours) {
    std::vector<fs::path> others;
    for (const auto& directory : LockDirectories()) {
        std::error_code error;
        if (!ours || !fs::equivalent(directory, *ours, error)) {
            others.push_back(directory);
        }
    }
    return others;
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

// Whether the lock's owner no longer holds it. A live process holds its lock, however the
// file's time compares with the process's start: the file's time is on the wall clock, which
// may have been set forward since, and judging a live lock stale puts two programs on one
// line. Lock files in /run/lock do not outlive a boot, so a PID is reused under a lock only
// after the kernel has handed out every other one.
bool IsStale(pid_t owner, const fs::path& file) {
    if (owner == ::getpid()) {
        return !HeldHere(file);  // left by an earlier process that had our PID
    }
    return !ProcessExists(owner);
}

// What a lock file found at its path means for an opener.
struct Judgement {
    enum class Standing { Missing, Stale, Refuses } standing;
    Refusal refusal;  // for Refuses
};

Judgement Judge(const fs::path& file, const LockLook& look) {
    using Standing = Judgement::Standing;
    if (look.kind == LockLook::Kind::Missing) {
        return {Standing::Missing, {}};
    }
    const auto owner = look.kind == LockLook::Kind::Text ? LockOwner(look.text) : std::nullopt;
    if (!owner) {
        return {Standing::Refuses, Busy("locked in " + file.string())};
    }
    if (!IsStale(*owner, file)) {
        Refusal refusal = Busy("locked by PID " + std::to_string(*owner) + " in " + file.string());
        refusal.pid = *owner;
        return {Standing::Refuses, std::move(refusal)};
    }
    return {Standing::Stale, {}};
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

// A live lock another program keeps where we keep none, even in a directory we may not write
// to; a stale one there is removed where we may.
std::optional<Refusal> LiveLockElsewhere(const std::string& name,
                                         const std::optional<fs::path>& ours) {
    for (const auto& directory : OtherLockDirectories(ours)) {
        const fs::path file = directory / name;
        const LockLook look = LookAt(file);
        const Judgement judgement = Judge(file, look);
        if (judgement.standing == Judgement::Standing::Refuses) {
            return judgement.refusal;
        }
        if (judgement.standing == Judgement::Standing::Stale) {
            RemoveStale(file, look);
        }
    }
    return std::nullopt;
}

LockOutcome TakeLock(const std::string& devicePath) {
    const std::string name = LockFileName(devicePath);
    const auto directory = UsableLockDirectory();
    if (auto refusal = LiveLockElsewhere(name, directory)) {
        return {{}, std::move(refusal)};
    }
    if (!directory) {
        return {};
    }
    const fs::path file = *directory / name;
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
        const Judgement judgement = Judge(file, look);
        if (judgement.standing == Judgement::Standing::Refuses) {
            return {{}, judgement.refusal};
        }
        if (judgement.standing == Judgement::Standing::Stale) {
            RemoveStale(file, look);
        }
    }
    return {{}, Busy("locked in " + file.string())};
}

std::optional<RefusingLock> FindRefusingLock(const std::string& devicePath) {
    const std::string name = LockFileName(devicePath);
    for (const auto& directory : LockDirectories()) {
        const fs::path file = directory / name;
        const Judgement judgement = Judge(file, LookAt(file));
        if (judgement.standing == Judgement::Standing::Refuses) {
            const pid_t owner = judgement.refusal.pid;
            return RefusingLock{file, owner > 0 ? std::optional<pid_t>(owner) : std::nullopt};
        }
    }
    return std::nullopt;
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
