// Fuzz target: --port and the COM name rule.
//
// The input is the text given to --port, and the name given to the COM name rule. Each run
// checks, against the rules as written here: "auto" alone is auto, "found" alone is found;
// "COMn" in any letter case, or n alone, with n from 1 to 256 and no leading zero, is COM n; a
// device path is taken as it stands, only where device paths are accepted and only with a '/';
// anything else is refused with a message that names what --port takes. The COM name rule gives a number from 1
// to 256 exactly for the names "COMn" of that rule.
#include <cstdint>
#include <optional>
#include <string>

#include "com_port_sources.h"
#include "fuzz_support.h"
#include "options.h"
#include "platform.h"

namespace {

using fuzz::Check;

constexpr int kLastComNumber = 256;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// n: 1 to 3 digits, no leading zero, 1 to 256.
std::optional<int> ComNumberOf(const std::string& digits) {
    if (digits.empty() || digits.size() > 3 || digits[0] == '0') {
        return std::nullopt;
    }
    int number = 0;
    for (const char c : digits) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        number = number * 10 + (c - '0');
    }
    return number <= kLastComNumber ? std::optional<int>(number) : std::nullopt;
}

bool HasComPrefix(const std::string& text) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    return text.size() >= 3 && upper(text[0]) == 'C' && upper(text[1]) == 'O' &&
           upper(text[2]) == 'M';
}

// "COMn", any letter case.
std::optional<int> ComName(const std::string& text) {
    return HasComPrefix(text) ? ComNumberOf(text.substr(3)) : std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<int> comName = ComName(text);
    const std::optional<int> number = comName ? comName : ComNumberOf(text);

    const std::optional<int> ruled = comports::ParseComName(text);
    Check(ruled == comName, "the COM name rule read \"" + text + "\" otherwise");

    std::string error;
    const std::optional<PortArgument> port = ParsePortArgument(text, error);
    if (!port) {
        Check(!number && text != "auto" && text != "found", "--port refused \"" + text + "\"");
        Check(error.rfind("--port ", 0) == 0 &&
                  error.find(PortArgumentHelp()) != std::string::npos,
              "--port refused without saying what it takes");
        return 0;
    }
    switch (port->kind) {
        case PortArgument::Kind::kAuto:
            Check(text == "auto", "--port took \"" + text + "\" as auto");
            break;
        case PortArgument::Kind::kFound:
            Check(text == "found", "--port took \"" + text + "\" as found");
            break;
        case PortArgument::Kind::kComNumber:
            Check(number && port->comNumber == *number,
                  "--port took \"" + text + "\" as COM" + std::to_string(port->comNumber));
            break;
        case PortArgument::Kind::kDevicePath:
            Check(!number && text != "auto" && text != "found" && DevicePathsAccepted() &&
                      text.find('/') != std::string::npos,
                  "--port took \"" + text + "\" as a device path");
            Check(port->devicePath == text, "the device path is not the text given");
            Check(port->comNumber >= 0 && port->comNumber <= kLastComNumber,
                  "a device path with a COM number out of range");
            break;
    }
    return 0;
}
