#include "cli_run.h"

#include <iostream>

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

int RunCliRequest(const CliRequest& request) {
    // The serial log is the dialog's: named after its title's first word.
    const std::string title =
        TR_TEXT_MAIN_CAPTION " " + VersionText(g_carriedFirmware.VersionByte());
    SetMainWindowTitleSource([title] { return title; });

    ConsoleInterrupts interrupts;
    InstallInterruptHandlers(interrupts);
    ConsoleOutput output(std::cout, std::cerr, IsTerminal(StandardStream::kError), request.quiet);
    const auto input = CreateStandardInput(interrupts);
    ConsoleQuestions questions(output, interrupts, *input, IsTerminal(StandardStream::kInput),
                               request.assumeYes);
    SerialPortOpener opener;
    SystemClock clock;
    const auto keepAwake = CreateSystemKeepAwake();
    ConsoleSurroundings s{output,
                          questions,
                          interrupts,
                          opener,
                          clock,
                          *keepAwake,
                          g_carriedFirmware,
                          comports::DescribeComPorts,
                          portaccess::WhyNotOpened};

    switch (request.command) {
        case CliRequest::Command::kInfo:
            return RunInfoCommand(s);
        case CliRequest::Command::kPorts:
            return RunPortsCommand(s, request.allPorts);
        case CliRequest::Command::kFind:
            return RunFindCommand(s);
        case CliRequest::Command::kTest:
            return RunTestCommand(s, request.port);
        case CliRequest::Command::kUpdate:
            return RunUpdateCommand(s, request.port);
    }
    return cli::kExitInternal;
}
