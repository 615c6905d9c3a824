#include "low_latency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace {

// Sets or clears the flag, every other field of the driver's record as it reported it (an
// ordinary user may change only the user-settable flags).
bool SetLowLatency(int fd, bool on) {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        return false;
    }
    if (((serial.flags & ASYNC_LOW_LATENCY) != 0) == on) {
        return false;  // already as wanted
    }
    serial.flags = on ? serial.flags | ASYNC_LOW_LATENCY : serial.flags & ~ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

}  // namespace

bool TurnOnLowLatency(int fd) {
    return SetLowLatency(fd, true);
}

void TurnOffLowLatency(int fd) {
    SetLowLatency(fd, false);
}
