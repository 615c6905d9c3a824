// The command line of tr520-cli, parsed with CLI11, and the ports --port names.
#pragma once

#include <optional>
#include <ostream>
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
    // The COM number the messages name; for a device path the one that leads to the same
    // device, 0 when none does.
    int comNumber = 0;
    std::string devicePath;  // kDevicePath only
};

// Parses one --port; none, with the reason in error, for what it does not take.
std::optional<PortArgument> ParsePortArgument(const std::string& text, std::string& error);
// What --port takes on this platform, in words.
std::string PortArgumentHelp();
// auto and found stand alone, and no port is named twice: two exchanges on one port would only
// refuse each other. The reason in error when they do not.
bool CheckPortArguments(const std::vector<PortArgument>& ports, std::string& error);
// "COMn", or the device path as given, escaped.
std::string PortLabel(const PortArgument& port);

inline constexpr const char* kSeveralPortsNeedYes =
    "update: --yes is needed with more than one port: the questions of several scanners "
    "cannot be asked at once";

// What the command line asks for.
struct CliRequest {
    enum class Command { kInfo, kPorts, kFind, kTest, kUpdate };
    Command command = Command::kInfo;
    bool allPorts = false;            // ports --all
    bool quiet = false;               // --quiet
    bool json = false;                // --json
    bool assumeYes = false;           // update --yes
    std::vector<PortArgument> ports;  // test and update, in the order given
};

// A request to run, or the exit code of --help, --version or a wrong command line, whose text
// has been written to out or err (with --json, help and version to err).
struct ParsedCommandLine {
    std::optional<CliRequest> request;
    int exitCode = 0;
    bool json = false;  // --json was given: help, version and a wrong command line in JSON too
    std::string error;
    std::string help;
    std::string version;
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err);

// The command's name as --json gives it: "info", "ports", "ports --find", "test", "update".
std::string CommandName(CliRequest::Command command);
