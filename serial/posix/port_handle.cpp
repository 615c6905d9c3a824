// Releasing an open port: what it leaves behind on the terminal, then the descriptor and the lock.
#include "port_handle.h"

#include <sys/ioctl.h>
#include <unistd.h>

PortHandle& PortHandle::operator=(PortHandle&& other) noexcept {
    if (this != &other) {
        Reset();
        lineErrors = other.lineErrors;
        exclusive = other.exclusive;
        lock = std::move(other.lock);
        settingsBefore = other.settingsBefore;
        m_fd = other.Release();
    }
    return *this;
}

void PortHandle::Reset() {
    if (m_fd >= 0) {
        // A port is left with the line settings we found, once our last bytes have left at
        // the speed they were written with: the driver's output queue does not count what
        // still sits in a USB adapter's FIFO, so the change waits for the drain.
        if (settingsBefore) {
            tcsetattr(m_fd, TCSADRAIN, &*settingsBefore);
        }
        // The terminal may outlive our descriptor (a simulator holding the other side open),
        // and its exclusive flag with it; lift it, or the next open of the port is refused.
        if (exclusive) {
            ioctl(m_fd, TIOCNXCL);
        }
        ::close(m_fd);
        m_fd = -1;
        exclusive = false;
        settingsBefore.reset();
    }
    // Only once the port is closed may a program that waits for the lock file take it.
    lock.Release();
}
