// PLACEHOLDER until the Windows port listing lands: no COM number is known to be present.
#include "com_port_devices.h"

namespace comports {

std::vector<ComPortInfo> DescribeComPorts() {
    std::vector<ComPortInfo> ports;
    for (int comNumber = 1; comNumber <= kComPortCount; ++comNumber) {
        const std::string com = "COM" + std::to_string(comNumber);
        ports.push_back({comNumber, false, "", com + ": not present"});
    }
    return ports;
}

}  // namespace comports
