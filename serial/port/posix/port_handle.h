// The open port as POSIX holds it: a file descriptor, and the record of one transfer.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>
#include <utility>

#include "port_lock.h"

// Driver error counters of a POSIX serial device, remembered so that each status query
// reports only the errors that arose since the one before, as a clearing query does.
struct LineErrorCounts {
    int overrun = 0;
    int parity = 0;
    int frame = 0;
    int brk = 0;
    int bufferOverrun = 0;
};

// Move-only owner of an open port's file descriptor; closing it releases the port.
class PortHandle {
public:
    PortHandle() = default;
    explicit PortHandle(int fd) : m_fd(fd) {}
    ~PortHandle() { Reset(); }
    PortHandle(PortHandle&& other) noexcept
        : lineErrors(other.lineErrors),
          exclusive(other.exclusive),
          lowLatencySet(other.lowLatencySet),
          configured(other.configured),
          hungUp(other.hungUp),
          lock(std::move(other.lock)),
          settingsBefore(other.settingsBefore),
          quietSettings(other.quietSettings),
          m_fd(other.Release()) {}
    PortHandle& operator=(PortHandle&& other) noexcept;
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;

    // Whether a descriptor is held (the invalid-handle value is -1).
    bool IsValid() const { return m_fd >= 0; }
    // The descriptor, -1 when none is held.
    int Fd() const { return m_fd; }
    // Gives up ownership without closing; returns the descriptor.
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Echo, and how the terminal is left. A device echoes what it receives while its settings
    // say so, and it starts with its driver's defaults, echo on: every byte the scanner sends
    // would go back to it. So echo goes off before anything else is done with a new
    // descriptor (SilenceEcho), and it stays off through the close: the settings found are
    // put back with their echo flags off, since a device echoes only while it is open and
    // turning echo on before close() would echo whatever arrives until the close has ended.
    // The one exception is a port we refused without using it: it may be somebody's terminal
    // (a stale link), which is left exactly as found; that is, its settings as found are put
    // back unless its owner changed them meanwhile, whose change then stands.
    //
    // Turns the terminal's echo off at once, noting the settings found; nothing changes where
    // echo is already off or the descriptor is no terminal.
    void SilenceEcho();
    // Releases the port (letting our last output leave for as long as it needs on the line,
    // then discarding the rest; putting back the line settings and the low-latency flag it had
    // before we changed them, echo kept off; lifting its exclusive use), closes the descriptor
    // without waiting for a stalled adapter, then gives up the lock file.
    void Reset();
    // Notes the settings the terminal has before our first change of them.
    void RememberSettings(const termios& current) {
        if (!settingsBefore) {
            settingsBefore = current;
        }
    }

    LineErrorCounts lineErrors;  // the counters at the last status query
    bool exclusive = false;      // TIOCEXCL was set on the terminal through this descriptor
    bool lowLatencySet = false;  // ASYNC_LOW_LATENCY was turned on through this descriptor
    bool configured = false;     // our line settings were applied through this descriptor
    bool hungUp = false;         // an operation met a hang-up or the removal of the device
    portlock::UucpLock lock;     // the device's lock file, held from before the open
    std::optional<termios> settingsBefore;  // the terminal's settings before our first change
    std::optional<termios> quietSettings;   // what SilenceEcho set; none when it changed nothing

private:
    int m_fd = -1;
};

// The POSIX counterpart of the overlapped record: the one transfer under way on the port.
struct TransferRecord {
    std::uint32_t status = 0;     // error code of the transfer's last step, 0 while none failed
    std::uint32_t requested = 0;  // bytes the transfer was asked to move
    std::uint32_t done = 0;       // bytes moved so far
};
