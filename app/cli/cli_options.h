// The command line of tr520-cli, parsed with CLI11.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "port_argument.h"

// What the command line asks for.
struct CliRequest {
    enum class Command { kInfo, kPorts, kFind, kTest, kUpdate };
    Command command = Command::kInfo;
    bool allPorts = false;   // ports --all
    bool quiet = false;      // --quiet
    bool assumeYes = false;  // update --yes
    PortArgument port;       // test and update
};

// A request to run, or the exit code when the command line was --help, --version or wrong
// (what they print has been written to out or err).
struct ParsedCommandLine {
    std::optional<CliRequest> request;
    int exitCode = 0;
};

// Parses argv.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err);

// What --version prints.
std::string CliVersionText();
