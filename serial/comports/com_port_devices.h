// What each COM number stands for on this machine, as the port lists show it: the dialogs'
// COM lists and the console program's port listing. One backend file per platform.
#pragma once

#include <string>
#include <vector>

namespace comports {

inline constexpr int kComPortCount = 256;  // COM1 to COM256, the COM list's entries

// One COM number and what it stands for now.
struct ComPortInfo {
    int comNumber = 0;        // 1 to kComPortCount
    bool present = false;     // whether its device is there now
    std::string device;       // what it stands for in words; empty when nothing
    std::string description;  // the whole text of its tooltip: "COM33: /dev/ttyUSB0, present"
};

// Every COM number, COM1 first, from one look at the system.
std::vector<ComPortInfo> DescribeComPorts();

}  // namespace comports
