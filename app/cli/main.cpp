// tr520-cli: the TR-520/521 CPU firmware update utility from a terminal.
#include <exception>
#include <iostream>

#include "commands.h"
#include "diag_log.h"
#include "dialog_texts.h"
#include "json.h"
#include "outcomes.h"
#include "platform.h"
#include "port_access.h"
#include "port_opener_and_clock.h"

namespace {

// How long a look at an empty input queue waits for input. Several ports at once each wait for
// the scanner's answers: against the simulator at line speed, waking every millisecond to look
// again cost one port's upload 3 % of a core, waking when input arrives or after 10 ms under
// 1 %, and a byte that arrives is seen at once either way.
constexpr int kIdleWaitMs = 10;

ConsoleModes ModesFor(const CliRequest& request) {
    const auto& ports = request.ports;
    const bool severalPorts =
        ports.size() > 1 || (ports.size() == 1 && ports[0].kind == PortArgument::Kind::kFound);
    const bool errIsTerminal = IsTerminal(StandardStream::kError);
    return {.outIsTerminal = IsTerminal(StandardStream::kOutput),
            .errIsTerminal = errIsTerminal,
            .inIsTerminal = IsTerminal(StandardStream::kInput),
            .quiet = request.quiet,
            .json = request.json,
            // Several ports may each have a row of progress redrawn in place.
            .cursorMoves = errIsTerminal && !request.quiet && severalPorts && BeginCursorMovement(),
            .assumeYes = request.assumeYes};
}

// Runs the request with the real ports, clock, terminal and keep-awake hold; the exit code.
int Run(const CliRequest& request) {
    // The serial log is the dialog's: named after its title's first word.
    const std::string title =
        TR_TEXT_MAIN_CAPTION " " + VersionText(g_carriedFirmware.VersionByte());
    SetMainWindowTitleSource([title] { return title; });
    ConsoleInterrupts interrupts;
    int code = cli::kExitInternal;
    {
        const InterruptHandlers handlers(interrupts);  // gone before what they press
        const ConsoleModes modes = ModesFor(request);
        const auto input = CreateStandardInput(interrupts);
        Console console(std::cout, std::cerr, modes, interrupts, *input);
        SerialPortOpener opener(kIdleWaitMs);
        SystemClock clock;
        const auto keepAwake =
            CreateSystemKeepAwake([&console](const std::string& text) { console.Note(text); });
        ConsoleSurroundings s{console,
                              opener,
                              clock,
                              *keepAwake,
                              g_carriedFirmware,
                              g_carriedFirmwareSha256,
                              comports::DescribeComPorts,
                              portaccess::WhyNotOpened};
        CommandReport report;
        code = RunRequest(request, s, report);
        if (modes.cursorMoves) {
            EndCursorMovement();
        }
        if (request.json) {
            std::cout << CommandJson(request, report, code, g_carriedFirmware,
                                     g_carriedFirmwareSha256)
                      << std::flush;
        }
    }
    const bool byCtrlC = interrupts.Pressed() && !interrupts.Terminated();
    return code == cli::kExitInterrupted && byCtrlC ? EndAsInterrupted(code) : code;
}

}  // namespace

int main(int argc, char* argv[]) {
    PrepareStandardStreams();  // first: no port may take the number of a closed stream
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.request) {
        if (parsed.json) {
            std::cout << UnrunJson(parsed) << std::flush;
        }
        return parsed.exitCode;
    }
    try {
        return Run(*parsed.request);
    } catch (...) {
        // The exchanges and the ports have unwound and closed by now; say so instead of aborting
        // without a word, and keep the promise of one document on standard output.
        const std::string error = cli::InternalErrorText(std::current_exception());
        std::cerr << "tr520-cli: " << error << std::endl;
        if (parsed.request->json) {
            std::cout << InternalErrorJson(error) << std::flush;
        }
        return cli::kExitInternal;
    }
}
