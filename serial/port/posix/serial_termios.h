// How the line-settings record becomes POSIX terminal settings and modem-line changes.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

#include "serial_platform.h"

// The terminal settings and modem lines that stand for one line-settings record.
struct TermiosSettings {
    termios attributes{};
    int modemLinesOn = 0;   // TIOCM_* bits to raise
    int modemLinesOff = 0;  // TIOCM_* bits to drop
};

// The speed constant of a baud rate; none for a rate the terminal interface cannot set.
std::optional<speed_t> SpeedForBaudRate(std::uint32_t baudRate);

// The raw terminal settings for dcb, starting from base (fields we do not own are kept):
// no special characters, no flow control, receiver on, modem status ignored. None when the
// baud rate or the character size cannot be set.
std::optional<TermiosSettings> DcbToTermios(const Dcb& dcb, const termios& base);

// The line-settings record that describes the terminal settings t (speed, size, parity,
// stop bits, flow control) for the platform's GetCommState.
Dcb TermiosToDcb(const termios& t);

// The error code logged for an errno value.
std::uint32_t ErrorCodeFromErrno(int errnoValue);
