// The console program's commands, one plain function each: info, ports, ports --find, test
// and update. Each returns the program's exit code (outcomes.h) and fills the command's record.
#pragma once

#include <string>
#include <vector>

#include "com_port_devices.h"
#include "options.h"
#include "port_session.h"

// What a command did, for --json.
struct CommandReport {
    std::vector<std::string> messages;  // texts shown outside any port: the start-up warning
    std::vector<PortReport> ports;      // test and update: one per port, in --port order
    std::vector<comports::ComPortInfo> listed;  // ports: those listed; ports --find: those found
};

// The request's command.
int RunRequest(const CliRequest& request, ConsoleSurroundings& s, CommandReport& report);

// The carried firmware: version, length, packets, SHA-256.
int RunInfoCommand(ConsoleSurroundings& s);
// The present COM ports with their devices; all 256 with all.
int RunPortsCommand(ConsoleSurroundings& s, bool all, CommandReport& report);
// The present ports where the scanner sends its ready byte, each opened with TEST's line
// settings and listened to for up to 2 s, nothing being sent: 0 when one or more; when none, 2
// if a present port could not be opened (the scanner may wait there), else 3.
int RunFindCommand(ConsoleSurroundings& s, CommandReport& report);
// TEST on each port: the scanner's version and the utility's message; the upload question is
// shown, not asked, and nothing is started.
int RunTestCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                   CommandReport& report);
// The start-up warning, then on each port TEST and UPDATE as a dialog user would run them.
// Several ports need --yes; they run side by side, each on a thread of its own, and a table
// ends the run.
int RunUpdateCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                     CommandReport& report);
