// The console program's commands, one plain function each. Each returns the program's exit
// code (outcomes.h) and fills the command's record for --json.
#pragma once

#include <string>
#include <vector>

#include "com_port_devices.h"
#include "options.h"
#include "port_session.h"

struct CommandReport {
    std::vector<std::string> messages;  // texts shown outside any port: the start-up warning
    std::vector<PortReport> ports;      // test and update: one per port, in --port order
    std::vector<comports::ComPortInfo> listed;  // ports: those listed; ports --find: those found
};

int RunRequest(const CliRequest& request, ConsoleSurroundings& s, CommandReport& report);

int RunInfoCommand(ConsoleSurroundings& s);
// The present COM ports with their devices; all of them with all.
int RunPortsCommand(ConsoleSurroundings& s, bool all, CommandReport& report);
// The present ports where the scanner sends its ready byte, nothing being sent: 0 when one or
// more; when none, 2 if a present port could not be opened (the scanner may wait there), else 3.
int RunFindCommand(ConsoleSurroundings& s, CommandReport& report);
// TEST on each port; the upload question is shown, not asked, and nothing is started.
int RunTestCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                   CommandReport& report);
// The start-up warning, then on each port TEST and UPDATE. Several ports run side by side,
// each on a thread of its own, and a table ends the run.
int RunUpdateCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                     CommandReport& report);
