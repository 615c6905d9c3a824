// The command line of tr520-cli, parsed with CLI11.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "port_argument.h"

// What the command line asks for.
struct CliRequest {
    enum class Command { kInfo, kPorts, kFind, kTest, kUpdate };
    Command command = Command::kInfo;
    bool allPorts = false;   // ports --all
    bool quiet = false;      // --quiet
    bool json = false;       // --json
    bool assumeYes = false;  // update --yes
    std::vector<PortArgument> ports;  // test and update, in the order given
};

// A request to run, or the exit code when the command line was --help, --version or wrong
// (what they print has been written to out or err; with --json, help and version to err).
struct ParsedCommandLine {
    std::optional<CliRequest> request;
    int exitCode = 0;
    bool json = false;    // --json was among the arguments: help, version and a wrong command line
                          // are told in JSON too
    std::string error;    // what was wrong, when it was
    std::string help;     // what --help printed
    std::string version;  // what --version printed
};

// Parses argv.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err);

// The command's name as --json gives it: "info", "ports", "ports --find", "test", "update".
std::string CommandName(CliRequest::Command command);

// What --version prints.
std::string CliVersionText();
