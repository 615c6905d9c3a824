// The user and group databases, asked through the reentrant calls: ports are looked at on
// several threads at once (one per port), and getgrgid and getpwuid share one buffer among all.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace userdb {

// The name of a group; none when the database has no such group.
std::optional<std::string> GroupName(gid_t gid);

// The name of a user; none when the database has no such user.
std::optional<std::string> UserName(uid_t uid);

// The home directory of a user; none when the database has no such user or names none.
std::optional<std::string> HomeDirectory(uid_t uid);

// Whether the databases make the user a member of the group: its primary group, or listed
// among the group's members (what the user's next login will give it).
bool ListedInGroup(uid_t uid, gid_t gid);

}  // namespace userdb
