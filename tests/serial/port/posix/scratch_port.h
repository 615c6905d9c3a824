// A port handle over a real descriptor for a scripted platform, and whether it is still open.
#pragma once

#include <fcntl.h>

#include "serial_platform.h"

class ScratchPort {
public:
    // A handle that owns a fresh descriptor of /dev/null.
    PortHandle Open() {
        PortHandle port(::open("/dev/null", O_RDWR | O_CLOEXEC));
        m_fd = port.Fd();
        return port;
    }
    // Whether the descriptor handed out last is still open.
    bool IsHeld() const { return m_fd >= 0 && fcntl(m_fd, F_GETFD) != -1; }

private:
    int m_fd = -1;
};
