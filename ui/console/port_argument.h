// The port a console command talks to: --port COMn, n, auto, found, or on Linux a device path.
#pragma once

#include <optional>
#include <string>
#include <vector>

// What --port named.
struct PortArgument {
    enum class Kind {
        kComNumber,   // COMn or n: opened as the dialog opens its list entry
        kDevicePath,  // a device path, opened as it stands (Linux)
        kAuto,        // the one port where the scanner sends its ready byte
        kFound,       // every port where a scanner sends its ready byte
    };
    Kind kind = Kind::kComNumber;
    // The COM number the exchange and its messages use: the one given, or for a device path
    // the COM number that leads to the same device (0 when none does).
    int comNumber = 0;
    std::string devicePath;  // kDevicePath only
};

// Parses --port: "auto", "found", "COMn" in any letter case or "n" with n from 1 to 256, or,
// where the platform takes them, a device path. None, with the reason in error, for anything
// else.
std::optional<PortArgument> ParsePortArgument(const std::string& text, std::string& error);

// What --port takes on this platform, in words for --help.
std::string PortArgumentHelp();

// Checks the ports of one command: auto and found stand alone, and no port is named twice (two
// exchanges on one port would only refuse each other). The reason in error when they do not.
bool CheckPortArguments(const std::vector<PortArgument>& ports, std::string& error);

// Why update refuses several ports without --yes.
inline constexpr const char* kSeveralPortsNeedYes =
    "update: --yes is needed with more than one port: the questions of several scanners "
    "cannot be asked at once";

// The port as the console names it: "COMn", or the device path as given, its control bytes
// escaped.
std::string PortLabel(const PortArgument& port);
