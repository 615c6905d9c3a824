// Keeping other programs off a serial device on Linux, beyond what TIOCEXCL and flock do: the
// UUCP lock file convention, and the claim that adds the look for other holders to it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "port_holders.h"

namespace portlock {

// Whether pid names a process that exists (also one this process may not signal).
bool ProcessExists(pid_t pid);

// The directories of lock files: the first that exists and is writable takes ours (when none
// is, no lock file is taken), and all are read for the locks of others. /run/lock and
// /var/lock unless replaced.
std::vector<std::filesystem::path> LockDirectories();
// Replaces the lock directories (tests use a directory of their own); an empty list restores
// the system's.
void SetLockDirectories(std::vector<std::filesystem::path> directories);

// The lock file name for a device: "LCK..ttyUSB0" for /dev/ttyUSB0, "LCK..pts_3" for
// /dev/pts/3 (the path below /dev, '/' made '_'), taken after links are resolved.
std::string LockFileName(const std::string& devicePath);

// The PID a lock file's text names (ASCII decimal, blanks around it); none when it names none.
std::optional<pid_t> LockOwner(const std::string& text);

// A UUCP lock file this process holds; removed when released, if it still names this process.
// While held, a lock file with this process's PID at its path is ours, not a stale one.
class UucpLock {
public:
    UucpLock() = default;
    explicit UucpLock(std::filesystem::path file);
    ~UucpLock() { Release(); }
    UucpLock(UucpLock&& other) noexcept : m_file(std::exchange(other.m_file, {})) {}
    UucpLock& operator=(UucpLock&& other) noexcept;
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;

    // Whether a lock file is held.
    bool IsHeld() const { return !m_file.empty(); }
    const std::filesystem::path& File() const { return m_file; }
    // Removes the lock file; nothing when none is held.
    void Release();

private:
    std::filesystem::path m_file;
};

// The outcome of TakeLock: the lock, or why the device is refused.
struct LockOutcome {
    UucpLock lock;  // not held when no lock directory is usable or when refused
    std::optional<Refusal> refusal;
};

// Takes the lock file for devicePath in the first usable lock directory, after looking for
// one in every lock directory. A stale one is removed first: its process gone, or this
// process without holding it. Of openers that meet one stale lock at once, one ends up
// holding it. Refused with EBUSY when a lock file in any lock directory names a live process,
// names no process or is no regular file (a FIFO, a directory, a link), and with the errno of
// the failing call when our file cannot be made.
LockOutcome TakeLock(const std::string& devicePath);

// A lock file that refuses a device, and the live process it names (none when it names none).
struct RefusingLock {
    std::filesystem::path file;
    std::optional<pid_t> owner;
};

// The lock file that would refuse devicePath now, looked at in every lock directory as
// TakeLock looks, but without removing or taking anything; none when no lock file refuses it.
std::optional<RefusingLock> FindRefusingLock(const std::string& devicePath);

// Runs between judging a lock file stale and removing it; tests stand in for a racing opener
// there. An empty function removes the hook.
void SetStaleLockHook(std::function<void()> hook);

// Before the device is opened: refused when another process has it open or a live process
// holds its lock file; otherwise granted with the lock file taken.
LockOutcome Claim(const std::string& devicePath);

}  // namespace portlock
