// tr520-cli --json: the one JSON document a run writes on standard output.
#pragma once

#include <string>

#include "commands.h"
#include "firmware_payload.h"
#include "options.h"

// The document of a command that ran: its record, its exit code, for info the firmware.
std::string CommandJson(const CliRequest& request, const CommandReport& report, int exitCode,
                        const FirmwarePayload& firmware, const std::string& firmwareSha256);

// The document of a command line that ran no command: refused (its error), or --help or
// --version (their text as member "help" or "version").
std::string UnrunJson(const ParsedCommandLine& parsed);
// The document of a run that ended by an unexpected exception, with its text.
std::string InternalErrorJson(const std::string& error);
