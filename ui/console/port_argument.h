// The port a console command talks to: --port COMn, n, auto, or on Linux a device path.
#pragma once

#include <optional>
#include <string>

// What --port named.
struct PortArgument {
    enum class Kind {
        kComNumber,   // COMn or n: opened as the dialog opens its list entry
        kDevicePath,  // a device path, opened as it stands (Linux)
        kAuto,        // the one port where the scanner sends its ready byte
    };
    Kind kind = Kind::kComNumber;
    // The COM number the exchange and its messages use: the one given, or for a device path
    // the COM number that leads to the same device (0 when none does).
    int comNumber = 0;
    std::string devicePath;  // kDevicePath only
};

// Parses --port: "auto", "COMn" in any letter case or "n" with n from 1 to 256, or, where the
// platform takes them, a device path. None, with the reason in error, for anything else.
std::optional<PortArgument> ParsePortArgument(const std::string& text, std::string& error);

// What --port takes on this platform, in words for --help.
std::string PortArgumentHelp();
