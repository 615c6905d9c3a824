#include "port_argument.h"

#include <cctype>

#include "com_port_devices.h"
#include "console_platform.h"

namespace {

// A decimal COM number without sign or leading zero, 1 to kComPortCount.
std::optional<int> ComNumber(const std::string& digits) {
    if (digits.empty() || digits.size() > 3 || digits[0] == '0') {
        return std::nullopt;
    }
    int number = 0;
    for (const char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        number = number * 10 + (c - '0');
    }
    if (number > comports::kComPortCount) {
        return std::nullopt;
    }
    return number;
}

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
    const std::string digits = HasComPrefix(text) ? text.substr(3) : text;
    if (const auto number = ComNumber(digits)) {
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
