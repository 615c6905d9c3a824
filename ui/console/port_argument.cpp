#include "port_argument.h"

#include <cctype>

#include "com_port_devices.h"
#include "com_port_sources.h"
#include "console_platform.h"
#include "printable_text.h"

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
    if (text == "found") {
        return PortArgument{PortArgument::Kind::kFound, 0, {}};
    }
    // A bare number is read as the COM name it stands for, by the rule the port list uses.
    if (const auto number = comports::ParseComName(HasComPrefix(text) ? text : "COM" + text)) {
        return PortArgument{PortArgument::Kind::kComNumber, *number, {}};
    }
    if (auto device = DevicePathArgument(text)) {
        return device;
    }
    error = "--port " + PrintableText(text) + ": not " + PortArgumentHelp();
    return std::nullopt;
}

bool CheckPortArguments(const std::vector<PortArgument>& ports, std::string& error) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const PortArgument& port = ports[i];
        const bool searched =
            port.kind == PortArgument::Kind::kAuto || port.kind == PortArgument::Kind::kFound;
        if (searched && ports.size() > 1) {
            error = "--port auto and --port found stand alone: they choose the ports themselves";
            return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            const bool sameCom = port.comNumber > 0 && port.comNumber == ports[j].comNumber;
            const bool samePath = port.kind == PortArgument::Kind::kDevicePath &&
                                  ports[j].kind == PortArgument::Kind::kDevicePath &&
                                  SamePortDevice(port.devicePath, ports[j].devicePath);
            if (sameCom || samePath) {
                error = "--port " + PortLabel(port) + " is named twice (as " + PortLabel(ports[j]) +
                        ")";
                return false;
            }
        }
    }
    return true;
}

std::string PortLabel(const PortArgument& port) {
    switch (port.kind) {
        case PortArgument::Kind::kComNumber:
            return "COM" + std::to_string(port.comNumber);
        case PortArgument::Kind::kDevicePath:
            return PrintableText(port.devicePath);
        case PortArgument::Kind::kAuto:
            return "auto";
        case PortArgument::Kind::kFound:
            return "found";
    }
    return "?";
}

std::string PortArgumentHelp() {
    std::string help =
        "COMn or n (1 to " + std::to_string(comports::kComPortCount) + "), auto, found";
    if (DevicePathsAccepted()) {
        help += ", or a device path such as /dev/ttyUSB0";
    }
    return help;
}
