// The console program's commands: info, ports, ports --find, test and update. Each returns
// the program's exit code (exit_codes.h) and, where there is one, fills the command's record.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "com_port_devices.h"
#include "command_report.h"
#include "console_interrupts.h"
#include "console_output.h"
#include "console_view.h"
#include "exchange_io.h"
#include "firmware_payload.h"
#include "keep_awake.h"
#include "port_argument.h"

// Everything the commands talk to; the program gives the real ones, tests stand-ins.
struct ConsoleSurroundings {
    ConsoleOutput& output;
    ConsoleQuestions& questions;
    ConsoleInterrupts& interrupts;
    exchange::IPortOpener& opener;  // the ports as they are; the commands add the Ctrl+C checks
    exchange::IClock& clock;
    IKeepAwake& keepAwake;  // held while UPDATE runs
    const FirmwarePayload& firmware;
    std::string firmwareSha256;  // the carried image's digest, as the build computed it
    std::function<std::vector<comports::ComPortInfo>()> describePorts;
    // Why a port (a COM name or device path) could not be opened, in one line; none when empty.
    std::function<std::string(const std::string&)> whyNotOpened;
};

// The carried firmware: version, length, packets, SHA-256.
int RunInfoCommand(ConsoleSurroundings& s);
// The present COM ports with their devices; all 256 with all.
int RunPortsCommand(ConsoleSurroundings& s, bool all, CommandReport& report);
// The present ports where the scanner sends its ready byte: 0 when one or more; when none, 2
// if a present port could not be opened (the scanner may wait there), else 3.
int RunFindCommand(ConsoleSurroundings& s, CommandReport& report);
// TEST on each port: the scanner's version and the utility's message; the upload question is
// shown, not asked, and nothing is started.
int RunTestCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                   CommandReport& report);
// The start-up warning, then on each port TEST and UPDATE as a dialog user would run them.
// Several ports need --yes.
int RunUpdateCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                     CommandReport& report);

// Printed on the first Ctrl+C during an upload.
extern const char* const kUploadUnderWayNotice;
// Printed when the second Ctrl+C has abandoned an upload.
extern const char* const kUploadAbandonedNotice;
