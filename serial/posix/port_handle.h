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
          lock(std::move(other.lock)),
          settingsBefore(other.settingsBefore),
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
    // Releases the port (letting our last output leave for as long as it needs on the line,
    // then discarding the rest; putting back the line settings and the low-latency flag it had
    // before we changed them; lifting its exclusive use), closes the descriptor without waiting
    // for a stalled adapter, then gives up the lock file.
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
    portlock::UucpLock lock;     // the device's lock file, held from before the open
    std::optional<termios> settingsBefore;  // the terminal's settings before our first change

private:
    int m_fd = -1;
};

// The POSIX counterpart of the overlapped record: the one transfer under way on the port.
struct TransferRecord {
    std::uint32_t status = 0;     // error code of the transfer's last step, 0 while none failed
    std::uint32_t requested = 0;  // bytes the transfer was asked to move
    std::uint32_t done = 0;       // bytes moved so far
};
