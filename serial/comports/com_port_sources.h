// The COM numbers on Windows from what the system says about them, kept apart from the calls
// that ask it (com_port_devices_w32.cpp), so that the rules can be tried on any platform.
//
// A COM number is present when one of these says so: the serial port map of the registry
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), the DOS device names (QueryDosDevice), or, under wine,
// a link in the prefix's dosdevices directory that leads to a device (wine lists the links
// made after its start in neither of the others). Its device is named, present or not, by the
// device manager's friendly name, without the "(COMn)" it ends in; failing that, by the
// driver's device name.
//
// Tooltip texts: "COM5: USB Serial Port, present", "COM5: USB Serial Port, not present" (a
// cable that had the number and is unplugged), "COM7: not present".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "com_port_devices.h"

namespace comports {

inline constexpr unsigned long kRegistryText = 1;  // REG_SZ, the only type a port map value has

// One value of the serial port map as the registry holds it.
struct RegistryValue {
    std::string name;    // the driver's device name: "\Device\Serial0"
    unsigned long type;  // the registry's value type
    std::string data;    // the bytes up to the first NUL: "COM1"
};

// One DOS device name and the first device it stands for.
struct DosDevice {
    std::string name;    // "COM5"
    std::string target;  // "\Device\Serial0"
};

// One port the device manager knows, plugged in or not.
struct SetupPort {
    std::string portName;      // the device's "PortName" value: "COM5"; may be empty
    std::string friendlyName;  // "USB Serial Port (COM5)"; may be empty
    std::string description;   // the device description, for a device without friendly name
    bool present = false;      // whether the device is plugged in now
};

// One entry of wine's dosdevices directory whose link leads to something that exists.
struct WineLink {
    std::string name;              // "com40"
    bool fileOrDirectory = false;  // it leads to a plain file or a directory, not a device
};

// What the system says about its COM ports; each call asks it once.
class IComPortSources {
public:
    virtual ~IComPortSources() = default;
    // The values of the serial port map; none when it is missing.
    virtual std::vector<RegistryValue> SerialPortMap() = 0;
    // The DOS device names that look like COM ports.
    virtual std::vector<DosDevice> DosDevices() = 0;
    // The ports of the device manager's port class and COM port interface.
    virtual std::vector<SetupPort> SetupPorts() = 0;
    // The dosdevices entries under wine; none elsewhere.
    virtual std::vector<WineLink> WineLinks() = 0;
};

// Every COM number, COM1 first, from one look at the sources.
std::vector<ComPortInfo> DescribeComPorts(IComPortSources& sources);

// The number of a port name "COMn" (any letter case, n from 1 to kComPortCount without
// leading zeros); none for anything else.
std::optional<int> ParseComName(std::string_view name);

// The device a port of the device manager stands for, in words: its friendly name without a
// trailing " (COMn)" that names this very port, else its description.
std::string SetupPortDevice(const SetupPort& port);

}  // namespace comports
