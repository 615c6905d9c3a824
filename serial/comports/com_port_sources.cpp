#include "com_port_sources.h"

#include <cctype>

namespace comports {

namespace {

// What the sources said about one COM number.
struct Findings {
    bool present = false;
    std::string systemDevice;  // the name under which the first source that lists it knows it
    std::string setupDevice;   // the device manager's name for it
    bool setupFound = false;
    bool setupPresent = false;
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Where " (COMn)" starts at the end of a friendly name, and n; none when it does not end so.
std::optional<std::pair<std::size_t, int>> TrailingComName(std::string_view friendly) {
    const std::size_t open = friendly.rfind(" (");
    if (open == std::string_view::npos || friendly.back() != ')') {
        return std::nullopt;
    }
    const std::string_view inside = friendly.substr(open + 2, friendly.size() - open - 3);
    const std::optional<int> number = ParseComName(inside);
    if (!number) {
        return std::nullopt;
    }
    return std::make_pair(open, *number);
}

std::optional<int> SetupPortNumber(const SetupPort& port) {
    if (!port.portName.empty()) {
        return ParseComName(port.portName);
    }
    const auto trailing = TrailingComName(port.friendlyName);
    return trailing ? std::optional<int>(trailing->second) : std::nullopt;
}

void MarkPresent(std::vector<Findings>& findings, std::string_view name, std::string device) {
    const std::optional<int> number = ParseComName(name);
    if (!number) {
        return;  // a value that names no COM port is no port of ours
    }
    Findings& found = findings[static_cast<std::size_t>(*number - 1)];
    if (!found.present) {
        found.present = true;
        found.systemDevice = std::move(device);
    }
}

// A device that is plugged in names the number before one that is not.
void NameFromSetup(std::vector<Findings>& findings, const SetupPort& port) {
    const std::optional<int> number = SetupPortNumber(port);
    const std::string device = SetupPortDevice(port);
    if (!number || device.empty()) {
        return;
    }
    Findings& found = findings[static_cast<std::size_t>(*number - 1)];
    if (!found.setupFound || (port.present && !found.setupPresent)) {
        found.setupDevice = device;
        found.setupFound = true;
        found.setupPresent = port.present;
    }
}

ComPortInfo Describe(int comNumber, const Findings& found) {
    std::string device = found.setupDevice;
    if (device.empty() && found.present) {
        device = found.systemDevice;
    }
    std::string description = "COM" + std::to_string(comNumber) + ": ";
    if (!device.empty()) {
        description += device + ", ";
    }
    description += found.present ? "present" : "not present";
    return {comNumber, found.present, device, description};
}

}  // namespace

std::optional<int> ParseComName(std::string_view name) {
    if (name.size() < 4 || !EqualsNoCase(name.substr(0, 3), "COM") || name[3] == '0') {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(3);
    if (digits.size() > 3) {
        return std::nullopt;
    }
    int number = 0;
    for (const char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        number = number * 10 + (c - '0');
    }
    if (number > kComPortCount) {
        return std::nullopt;
    }
    return number;
}

std::string SetupPortDevice(const SetupPort& port) {
    if (port.friendlyName.empty()) {
        return port.description;
    }
    const auto trailing = TrailingComName(port.friendlyName);
    const bool namesThisPort =
        trailing && (port.portName.empty() || ParseComName(port.portName) == trailing->second);
    // A friendly name that names another port (one renamed since) is shown as it stands.
    if (!namesThisPort || trailing->first == 0) {
        return port.friendlyName;
    }
    return port.friendlyName.substr(0, trailing->first);
}

std::vector<ComPortInfo> DescribeComPorts(IComPortSources& sources) {
    std::vector<Findings> findings(kComPortCount);
    for (const RegistryValue& value : sources.SerialPortMap()) {
        if (value.type == kRegistryText) {
            MarkPresent(findings, value.data, value.name);
        }
    }
    for (const DosDevice& dos : sources.DosDevices()) {
        MarkPresent(findings, dos.name, dos.target);
    }
    for (const WineLink& link : sources.WineLinks()) {
        if (!link.fileOrDirectory) {
            MarkPresent(findings, link.name, "wine link dosdevices/" + link.name);
        }
    }
    for (const SetupPort& port : sources.SetupPorts()) {
        NameFromSetup(findings, port);
    }
    std::vector<ComPortInfo> ports;
    ports.reserve(kComPortCount);
    for (int comNumber = 1; comNumber <= kComPortCount; ++comNumber) {
        ports.push_back(Describe(comNumber, findings[static_cast<std::size_t>(comNumber - 1)]));
    }
    return ports;
}

}  // namespace comports
