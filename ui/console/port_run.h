// One port's exchanges in a console command: TEST, and for update the UPDATE after a TEST that
// offered it, each through ports and a clock that look for Ctrl+C and count the traffic.
#pragma once

#include <string>

#include "command_report.h"
#include "console_commands.h"
#include "port_argument.h"

// A port a command runs on, with what the console shows for it.
struct ResolvedPort {
    PortArgument argument;  // a COM number or a device path
    std::string label;      // "COM41", or the device path
    std::string device;     // what the port stands for, empty when unknown
};

// Runs the port's exchanges as `test` (upload false) or `update` runs them and returns its
// record with its exit code; Ctrl+C ends it with kExitInterrupted, its port closed.
PortReport RunExchangesOnPort(ConsoleSurroundings& s, const ResolvedPort& port, bool upload);
