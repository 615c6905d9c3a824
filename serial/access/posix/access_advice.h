// The permission advice on POSIX systems, from the facts of the device node and the user.
#pragma once

#include <sys/stat.h>

#include <string>

namespace portaccess {

// What the advice is built from.
struct AccessFacts {
    std::string mode;                 // as ls shows it: "crw-rw----"
    std::string group;                // the node's group, by name (by number without one)
    std::string owner;                // the node's owner, likewise
    bool groupMayUse = false;         // the group may read and write it
    bool ownerMayUse = false;         // the owner may read and write it
    bool inGroupListed = false;       // the user is in that group by the group database
    bool inGroupThisSession = false;  // this process has that group
};

// The advice for the facts: "(group G, mode M)", then what to do where something can be done.
std::string AdviceFor(const AccessFacts& facts);

// A device node's mode as ls shows it: "crw-rw----" (no set-ID or sticky letters).
std::string ModeText(mode_t mode);

}  // namespace portaccess
