// What a COM port name may lead to on Linux. A port link can outlive the device it was made
// for: once a simulator that published comN -> /dev/pts/K has died, pts K may be handed to a
// new terminal window, and opening it as a port would take over somebody's terminal.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace portsafety {

// Why the open descriptor must not be used as a port, as an errno value: ENODEV when it is
// not a character device, EBUSY when it is the controlling terminal of a session (procRoot is
// searched for one); 0 when it may be used.
int RefusalFor(int fd, const std::filesystem::path& procRoot = "/proc");

// Whether a process listed under procRoot has device as its controlling terminal. Processes
// that cannot be read, or end meanwhile, are skipped.
bool IsControllingTerminal(dev_t device, const std::filesystem::path& procRoot = "/proc");

// The controlling terminal in one line of /proc/PID/stat; none when the process has none or
// the line cannot be read. The command name may itself hold blanks and parentheses.
std::optional<dev_t> ControllingTerminalOf(const std::string& statLine);

}  // namespace portsafety
