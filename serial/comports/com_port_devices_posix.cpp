// The COM numbers on Linux: the per-user link or the fixed table's device of each.
#include "com_port_devices.h"
#include "com_port_names.h"
#include "port_access.h"
#include "printable_text.h"

namespace comports {

namespace {

// The device as shown: a link's target and the links' directory are whatever the user or a
// program put there.
std::string Description(int comNumber, const PortDevice& device, const std::string& shownDevice) {
    const std::string com = "COM" + std::to_string(comNumber);
    if (device.device.empty()) {
        return com + ": no device (a link " + PrintableText(PortLinkPath(comNumber).string()) +
               " can name one)";
    }
    std::string text = com + ": " + shownDevice;
    if (!device.link.empty()) {
        text += " (per-user link " + PrintableText(device.link.string()) + ")";
    }
    if (!device.present) {
        return text + ", not present";
    }
    const std::string advice = portaccess::PermissionAdvice(device.device);
    return text + ", present" + (advice.empty() ? "" : ", but you may not open it " + advice);
}

}  // namespace

std::vector<ComPortInfo> DescribeComPorts() {
    std::vector<ComPortInfo> ports;
    ports.reserve(kComPortCount);
    for (int comNumber = 1; comNumber <= kComPortCount; ++comNumber) {
        const PortDevice device = DescribeComPort(comNumber);
        const std::string shown = PrintableText(device.device);
        ports.push_back({comNumber, device.present, shown, Description(comNumber, device, shown)});
    }
    return ports;
}

}  // namespace comports
