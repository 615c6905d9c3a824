#include "user_database.h"

#include <grp.h>
#include <pwd.h>

#include <cerrno>
#include <cstddef>
#include <vector>

namespace userdb {
namespace {

constexpr std::size_t kFirstBufferSize = 1024;       // bytes; most entries fit
constexpr std::size_t kLargestBufferSize = 1 << 20;  // bytes; a group of many members

// One entry as a reentrant call fills it: its strings live in buffer, so the two go together.
template <typename Entry>
struct Found {
    Entry entry{};
    std::vector<char> buffer;
    bool found = false;
};

// Calls lookup (getgrgid_r and kin) with a buffer that grows while the entry does not fit.
template <typename Entry, typename Key, typename Lookup>
void LookUp(Found<Entry>& out, Key key, Lookup lookup) {
    for (std::size_t size = kFirstBufferSize; size <= kLargestBufferSize; size *= 2) {
        out.buffer.resize(size);
        Entry* result = nullptr;
        const int error = lookup(key, &out.entry, out.buffer.data(), out.buffer.size(), &result);
        if (error != ERANGE) {
            out.found = error == 0 && result != nullptr;
            return;
        }
    }
}

}  // namespace

std::optional<std::string> GroupName(gid_t gid) {
    Found<group> found;
    LookUp(found, gid, getgrgid_r);
    return found.found ? std::optional<std::string>(found.entry.gr_name) : std::nullopt;
}

std::optional<std::string> UserName(uid_t uid) {
    Found<passwd> found;
    LookUp(found, uid, getpwuid_r);
    return found.found ? std::optional<std::string>(found.entry.pw_name) : std::nullopt;
}

std::optional<std::string> HomeDirectory(uid_t uid) {
    Found<passwd> found;
    LookUp(found, uid, getpwuid_r);
    if (!found.found || found.entry.pw_dir == nullptr) {
        return std::nullopt;
    }
    return std::string(found.entry.pw_dir);
}

bool ListedInGroup(uid_t uid, gid_t gid) {
    Found<passwd> user;
    LookUp(user, uid, getpwuid_r);
    if (!user.found) {
        return false;
    }
    if (user.entry.pw_gid == gid) {
        return true;
    }
    const std::string name = user.entry.pw_name;
    Found<group> members;
    LookUp(members, gid, getgrgid_r);
    for (char** member = members.found ? members.entry.gr_mem : nullptr;
         member != nullptr && *member != nullptr; ++member) {
        if (name == *member) {
            return true;
        }
    }
    return false;
}

}  // namespace userdb
