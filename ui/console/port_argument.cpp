#include "port_argument.h"

#include <cctype>

#include "com_port_devices.h"
#include "com_port_sources.h"
#include "console_platform.h"

namespace {

bool HasComPrefix(const std::string& text) {
    return text.size() > 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(text[2])) == 'M';
}

}  // namespace

std::optional<PortArgument> ParsePortArgument(const std::string& text, std::string& error) {
    if (text == "auto") {
        return PortArgument{PortArgument::Kind::kAuto, 0, {}};
    }
    // A bare number is read as the COM name it stands for, by the rule the port list uses.
    if (const auto number = comports::ParseComName(HasComPrefix(text) ? text : "COM" + text)) {
        return PortArgument{PortArgument::Kind::kComNumber, *number, {}};
    }
    if (auto device = DevicePathArgument(text)) {
        return device;
    }
    error = "--port " + text + ": not " + PortArgumentHelp();
    return std::nullopt;
}

std::string PortArgumentHelp() {
    std::string help = "COMn or n (1 to " + std::to_string(comports::kComPortCount) + "), auto";
    if (DevicePathsAccepted()) {
        help += ", or a device path such as /dev/ttyUSB0";
    }
    return help;
}
