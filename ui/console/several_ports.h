// test and update over several ports at once: each port's exchanges on a thread of their own,
// with their own port, output, Ctrl+C view and questions; at the end a table.
#pragma once

#include <vector>

#include "command_report.h"
#include "console_commands.h"
#include "port_run.h"

// Runs every port side by side and returns the run's exit code: 0 when every port's is,
// otherwise the most severe. The run's hold on sleep and shutdown, when upload, covers them
// all; the ports' reports go to report in the order of ports.
int RunSeveralPorts(ConsoleSurroundings& s, const std::vector<ResolvedPort>& ports, bool upload,
                    CommandReport& report);

// The final table: port, device, scanner version before, outcome, time; one line per port.
std::string FormatPortTable(const std::vector<PortReport>& ports);
