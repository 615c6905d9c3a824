#include "cli_run.h"

#include <iostream>

#include "cli_json.h"
#include "com_port_devices.h"
#include "console_commands.h"
#include "console_platform.h"
#include "diag_log.h"
#include "dialog_texts.h"
#include "exit_codes.h"
#include "firmware_payload.h"
#include "keep_awake.h"
#include "port_access.h"
#include "serial_link.h"

namespace {

// How long a look at an empty input queue waits for input. Several ports at once each wait for
// the scanner's answers: against the simulator at line speed, waking every millisecond to look
// again cost one port's upload 3 % of a core, waking when input arrives or after 10 ms under
// 1 %, and a byte that arrives is seen at once either way.
constexpr int kIdleWaitMs = 10;

// Whether the run may give each of several ports a row of its own redrawn in place.
bool SeveralPortsPossible(const CliRequest& request) {
    return request.ports.size() > 1 ||
           (request.ports.size() == 1 && request.ports[0].kind == PortArgument::Kind::kFound);
}

int RunCommand(const CliRequest& request, ConsoleSurroundings& s, CommandReport& report) {
    switch (request.command) {
        case CliRequest::Command::kInfo:
            return RunInfoCommand(s);
        case CliRequest::Command::kPorts:
            return RunPortsCommand(s, request.allPorts, report);
        case CliRequest::Command::kFind:
            return RunFindCommand(s, report);
        case CliRequest::Command::kTest:
            return RunTestCommand(s, request.ports, report);
        case CliRequest::Command::kUpdate:
            return RunUpdateCommand(s, request.ports, report);
    }
    return cli::kExitInternal;
}

}  // namespace

int RunCliRequest(const CliRequest& request) {
    // The serial log is the dialog's: named after its title's first word.
    const std::string title =
        TR_TEXT_MAIN_CAPTION " " + VersionText(g_carriedFirmware.VersionByte());
    SetMainWindowTitleSource([title] { return title; });

    int code = cli::kExitInternal;
    bool endAsInterrupted = false;
    {
        ConsoleInterrupts interrupts;
        // Declared after what it presses, so that it is removed before that goes.
        const InterruptHandlers handlers(interrupts);
        const bool errIsTerminal = IsTerminal(StandardStream::kError);
        OutputModes modes;
        modes.outIsTerminal = IsTerminal(StandardStream::kOutput);
        modes.json = request.json;
        modes.cursorMoves = errIsTerminal && !request.quiet && SeveralPortsPossible(request) &&
                            BeginCursorMovement();
        ConsoleOutput output(std::cout, std::cerr, errIsTerminal, request.quiet, modes);
        const auto input = CreateStandardInput(interrupts);
        ConsoleQuestions questions(output, interrupts, *input, IsTerminal(StandardStream::kInput),
                                   request.assumeYes);
        SerialPortOpener opener(kIdleWaitMs);
        SystemClock clock;
        const auto keepAwake =
            CreateSystemKeepAwake([&output](const std::string& text) { output.Note(text); });
        ConsoleSurroundings s{output,
                              questions,
                              interrupts,
                              opener,
                              clock,
                              *keepAwake,
                              g_carriedFirmware,
                              g_carriedFirmwareSha256,
                              comports::DescribeComPorts,
                              portaccess::WhyNotOpened};

        CommandReport report;
        code = RunCommand(request, s, report);
        if (modes.cursorMoves) {
            EndCursorMovement();
        }
        if (request.json) {
            std::cout << CommandJson(request, report, code, g_carriedFirmware,
                                     g_carriedFirmwareSha256)
                      << std::flush;
        }
        endAsInterrupted =
            code == cli::kExitInterrupted && interrupts.Pressed() && !interrupts.Terminated();
    }
    return endAsInterrupted ? EndAsInterrupted(code) : code;
}
