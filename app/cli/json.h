// tr520-cli --json: the one JSON document a run writes on standard output.
#pragma once

#include <string>

#include "commands.h"
#include "options.h"

// The document of a command that ran, with its record and exit code.
std::string CommandJson(const CliRequest& request, const CommandReport& report, int exitCode,
                        const FirmwarePayload& firmware, const std::string& firmwareSha256);
// The document of a command line that ran no command: its error, or the text of --help or
// --version.
std::string UnrunJson(const ParsedCommandLine& parsed);
// The document of a run that an unexpected exception ended.
std::string InternalErrorJson(const std::string& error);
