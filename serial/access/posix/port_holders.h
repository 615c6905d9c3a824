// Who else has a serial device open on Linux, found through /proc: a port another process
// holds is refused before it is touched.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace portlock {

// Why a device was refused: the errno value (EBUSY when another program has it) and the words
// that say who has it, for the log line ("held by PID 42").
struct Refusal {
    int error = 0;
    std::string holder;
    pid_t pid = 0;  // the process that holds the device, when one was found
};

// A refusal with EBUSY: another program has the device.
Refusal Busy(std::string holder);

// Another process that has the character device at devicePath open, found through the links
// in /proc/PID/fd (compared by device number); this process and processes that cannot be
// inspected are left out. A process that holds the master side of a pseudo-terminal is the
// far end of that line, not a user of it, and is left out too. None when devicePath is not a
// character device.
std::optional<Refusal> FindOtherHolder(const std::string& devicePath);

// Whether a process has a serial line open: a terminal device other than its controlling
// terminal, the virtual consoles and the pseudo-terminal multiplexer. False for a kernel
// thread; none when the process is gone or this one may not look at its descriptors.
std::optional<bool> UsesSerialPort(pid_t pid);

// A process in words for the user: its command and PID, "ModemManager (PID 812)", or
// "PID 812" when its command cannot be read. The command is shown with its control bytes
// escaped: any user may name a process.
std::string ProcessName(pid_t pid);

}  // namespace portlock
