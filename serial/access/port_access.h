// Why a serial device cannot be opened, and what fixes it, in the words the console program
// and the dialog's COM list both show. One backend file per platform; where the platform has
// nothing to say, every answer is empty.
#pragma once

#include <string>

namespace portaccess {

// The advice for a device this process may not open for reading and writing, as the words
// that follow "you may not open it": "(group dialout, mode crw-rw----): sudo usermod -aG
// dialout $USER, then log out and in again." Empty when it may, or when the device is not
// there or cannot be judged.
std::string PermissionAdvice(const std::string& devicePath);

// One line on why the port portName (a COM name or a device path) could not be opened: the
// permission and its fix, the process that holds it, or the lock file that refuses it, with a
// second line on how to remove it where its process uses no serial port (its PID reused after
// the program that made it ended); empty when none of these is found.
std::string WhyNotOpened(const std::string& portName);

}  // namespace portaccess
