// How the COM port names the utility opens ("\\.\COM4") reach devices on Linux.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace comports {

// The directory of per-user links com1 ... com256 that point COM numbers at devices:
// $XDG_CONFIG_HOME/tr520-updater/ports, or ~/.config/tr520-updater/ports when XDG_CONFIG_HOME
// is unset, empty or not absolute (as the XDG base-directory conventions say).
std::filesystem::path PortLinkDirectory();

// The link in PortLinkDirectory() for a COM number: .../comN.
std::filesystem::path PortLinkPath(int comNumber);

// The COM number of "\\.\COMn" or "COMn" (any letter case, n a positive decimal without
// leading zeros); none for any other name.
std::optional<int> ComNumberFromName(const std::string& name);

// The conventional device of a COM number: COM1-32 /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31,
// COM65-96 /dev/ttyACM0-31; none for other numbers.
std::optional<std::string> ConventionalDevice(int comNumber);

// The path to open for a port name: the user's link when it exists (even dangling), else the
// conventional device; none when a COM number names no device. A name that is not a COM name
// is taken as a device path as it stands.
std::optional<std::string> DevicePathForPortName(const std::string& name);

// Whether two paths lead to one device: for character devices the same device number, for
// anything else the same file; false when either is not there.
bool SameDevice(const std::string& a, const std::string& b);

// The COM number that leads to devicePath by the rule of DevicePathForPortName: the first
// whose path is the same device, or, where either is not there now, the same path once links
// are followed. None when no COM number leads there.
std::optional<int> ComNumberOfDevice(const std::string& devicePath);

// What a COM number stands for on this machine, as the port list shows it to the user.
struct PortDevice {
    std::string device;          // the link's target or the table's device; empty when none
    std::filesystem::path link;  // the per-user link that names the device, when there is one
    bool present = false;        // whether the device is there now
};

// The device a COM number opens, by the same rule as DevicePathForPortName, and whether it is
// present. ttyClassDir is where the kernel lists its terminals (/sys/class/tty).
PortDevice DescribeComPort(int comNumber,
                           const std::filesystem::path& ttyClassDir = "/sys/class/tty");

// Whether a terminal device is there now: the path, through any links, is a character device
// that the kernel does not list as a serial port slot without a UART (type 0 in ttyClassDir).
bool DevicePresent(const std::filesystem::path& device,
                   const std::filesystem::path& ttyClassDir = "/sys/class/tty");

}  // namespace comports
