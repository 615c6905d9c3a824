// Why a device cannot be opened on Linux: its node's mode and group against the user's groups,
// another process that has it open, or a lock file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <vector>

#include "access_advice.h"
#include "com_port_names.h"
#include "port_access.h"
#include "port_holders.h"
#include "port_lock.h"
#include "printable_text.h"
#include "user_database.h"

namespace portaccess {
namespace {

constexpr mode_t kReadWrite = S_IRUSR | S_IWUSR;  // shifted right by 3 for the group

std::string GroupName(gid_t gid) {
    return userdb::GroupName(gid).value_or(std::to_string(gid));
}

std::string UserName(uid_t uid) {
    return userdb::UserName(uid).value_or(std::to_string(uid));
}

// Whether this process has gid: the groups its session started with.
bool InGroupThisSession(gid_t gid) {
    if (getegid() == gid) {
        return true;
    }
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    const int got = getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.end();
}

AccessFacts FactsOf(const struct stat& node) {
    AccessFacts facts;
    facts.mode = ModeText(node.st_mode);
    facts.group = GroupName(node.st_gid);
    facts.owner = UserName(node.st_uid);
    facts.groupMayUse = (node.st_mode & (kReadWrite >> 3)) == (kReadWrite >> 3);
    facts.ownerMayUse = (node.st_mode & kReadWrite) == kReadWrite;
    facts.inGroupListed = userdb::ListedInGroup(geteuid(), node.st_gid);
    facts.inGroupThisSession = InGroupThisSession(node.st_gid);
    return facts;
}

// Whether this user may remove the file: write access to its directory and, where that is
// sticky (as /run/lock is), the file or the directory its own.
bool MayRemove(const std::filesystem::path& file) {
    const std::string directory = file.parent_path().string();
    struct stat dir {};
    struct stat entry {};
    if (::stat(directory.c_str(), &dir) != 0 || ::lstat(file.c_str(), &entry) != 0 ||
        ::access(directory.c_str(), W_OK | X_OK) != 0) {
        return false;
    }
    const uid_t self = geteuid();
    return (dir.st_mode & S_ISVTX) == 0 || self == 0 || entry.st_uid == self || dir.st_uid == self;
}

// A path as a shell takes it: in single quotes unless it holds only the plainest characters.
std::string ShellWord(const std::string& path) {
    constexpr const char* kPlain =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./+-,:@%=";
    if (!path.empty() && path.find_first_not_of(kPlain) == std::string::npos) {
        return path;
    }
    std::string quoted = "'";
    for (const char c : path) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The lock file that refuses the device, who made it, and how to remove it when its PID has
// been given to a process that uses no serial port since.
std::string LockedText(const std::string& shownDevice, const portlock::RefusingLock& lock) {
    const std::string file = PrintableText(lock.file.string());
    if (!lock.owner) {
        return shownDevice + " is locked by " + file +
               ", which names no process: remove it by hand if no program uses the port.";
    }
    const std::string owner = portlock::ProcessName(*lock.owner);
    const std::string text = shownDevice + " is locked by " + owner + " in " + file + ".";
    const auto uses = portlock::UsesSerialPort(*lock.owner);
    if (uses.value_or(false)) {
        return text;
    }
    const std::string remove =
        (MayRemove(lock.file) ? "rm " : "sudo rm ") + PrintableText(ShellWord(lock.file.string()));
    if (uses) {
        return text + "\n" + owner +
               " uses no serial port: the program that made the lock has ended and its PID has "
               "been given to another. The lock file can be removed: " +
               remove;
    }
    return text + "\nIf " + owner +
           " uses no serial port, the program that made the lock has ended and the lock file "
           "can be removed: " +
           remove;
}

}  // namespace

std::string ModeText(mode_t mode) {
    std::string text = S_ISCHR(mode) ? "c" : S_ISBLK(mode) ? "b" : S_ISDIR(mode) ? "d" : "-";
    for (const int shift : {6, 3, 0}) {  // owner, group, others
        text += (mode >> shift) & 4 ? 'r' : '-';
        text += (mode >> shift) & 2 ? 'w' : '-';
        text += (mode >> shift) & 1 ? 'x' : '-';
    }
    return text;
}

std::string AdviceFor(const AccessFacts& facts) {
    const std::string group = PrintableText(facts.group);
    const std::string text = "(group " + group + ", mode " + facts.mode + ")";
    if (!facts.groupMayUse) {
        const bool ownersOwn = facts.ownerMayUse && facts.owner != "root";
        return text + ": only " + (ownersOwn ? "its owner " + PrintableText(facts.owner) : "root") +
               " may open it.";
    }
    if (facts.inGroupThisSession) {
        return text + ".";  // the mode is not what refuses it
    }
    if (facts.inGroupListed) {
        return text + ": your session started before you joined " + group +
               ": log out and in again.";
    }
    return text + ": sudo usermod -aG " + group + " $USER, then log out and in again.";
}

std::string PermissionAdvice(const std::string& devicePath) {
    struct stat node {};
    if (stat(devicePath.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) {
        return {};
    }
    // The effective IDs, as open() judges them.
    if (faccessat(AT_FDCWD, devicePath.c_str(), R_OK | W_OK, AT_EACCESS) == 0 ||
        (errno != EACCES && errno != EPERM)) {
        return {};
    }
    return AdviceFor(FactsOf(node));
}

std::string WhyNotOpened(const std::string& portName) {
    const auto named = comports::DevicePathForPortName(portName);
    if (!named) {
        return {};
    }
    // The device a link (a COM link, /dev/serial/by-id) leads to: the node whose group counts.
    std::error_code error;
    const auto device = std::filesystem::canonical(*named, error);
    const std::string path = error ? *named : device.string();
    const std::string shown = PrintableText(path);
    if (const std::string advice = PermissionAdvice(path); !advice.empty()) {
        return "You may not open " + shown + " " + advice;
    }
    if (const auto holder = portlock::FindOtherHolder(path); holder && holder->pid > 0) {
        return shown + " is held by " + portlock::ProcessName(holder->pid) + ".";
    }
    if (const auto lock = portlock::FindRefusingLock(path)) {
        return LockedText(shown, *lock);
    }
    return {};
}

}  // namespace portaccess
