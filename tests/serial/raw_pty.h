// A pseudo-terminal for the serial tests: the slave end stands for the utility's port, the
// master end for the device at the other end of the line.
#pragma once

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

// Opens a pseudo-terminal with its slave end in raw mode; false when none is available.
inline bool OpenRawPty(int& master, int& slave, std::string& slavePath) {
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        return false;
    }
    slavePath = name;
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    return true;
}

// Closes whichever of the two ends is still open.
inline void CloseRawPty(int& master, int& slave) {
    for (int* fd : {&master, &slave}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}
