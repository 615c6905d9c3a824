#include "commands.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>

#include "dialog_templates.h"
#include "exchange_support.h"
#include "link_frame.h"
#include "outcomes.h"
#include "printable_text.h"
#include "pumping_io.h"

namespace {

namespace detail = exchange::detail;

constexpr std::uint32_t kFindListenMs = 2000;  // how long each port is listened to

// What listening on the present ports found, each list in COM order.
struct FoundPorts {
    std::vector<comports::ComPortInfo> answering;  // a ready byte came within kFindListenMs
    std::vector<comports::ComPortInfo> notOpened;  // could not be opened: left alone
};

// Listens for 'C' for up to kFindListenMs; other bytes are dropped.
bool HearsReadyByte(exchange::IPort& port, exchange::IClock& clock) {
    const detail::TimeWindow window(clock, kFindListenMs);
    while (!window.HasRunOut()) {
        std::uint8_t received = scanlink::NOTHING;
        if (detail::ReadWaitingByte(port, received) && received == scanlink::READY) {
            return true;
        }
    }
    return false;
}

// A scanner in its "CPU SW Upgrade" mode keeps sending its ready byte. Ports are opened one at
// a time and closed, their settings restored, before the next; Ctrl+C ends it, the open port
// closed first. A port that cannot be opened is left alone, with a note and the reason.
FoundPorts Find(ConsoleSurroundings& s) {
    const auto ports = s.describePorts();
    const auto present = std::count_if(
        ports.begin(), ports.end(), [](const comports::ComPortInfo& info) { return info.present; });
    s.console.Note("Listening for the scanner's ready byte on " + std::to_string(present) +
                   " present port(s), up to 2 s each...");
    InterruptPump pump(s.console.Interrupts());
    PumpingOpener opener(s.opener, pump);
    PumpingClock clock(s.clock, pump, kInterruptSliceMs);
    FoundPorts found;
    for (const comports::ComPortInfo& info : ports) {
        if (!info.present) {
            continue;  // opening raises DTR and RTS: nothing but present ports is touched
        }
        const std::string com = "COM" + std::to_string(info.comNumber);
        auto port = detail::OpenScannerPort(opener, exchange::ComPort(info.comNumber).name);
        if (!port) {
            found.notOpened.push_back(info);
            s.console.Note(com + ": cannot be opened, left alone");
            // The reason, as test gives it: a refusal, shown also with --quiet.
            if (const std::string why = s.whyNotOpened ? s.whyNotOpened(com) : ""; !why.empty()) {
                s.console.Alert(why);
            }
        } else if (HearsReadyByte(*port, clock)) {
            found.answering.push_back(info);
        }
    }
    return found;
}

// The ports' COM names in words: "COM7, COM9".
std::string ComNames(const std::vector<comports::ComPortInfo>& ports) {
    std::string names;
    for (const auto& info : ports) {
        names += (names.empty() ? "COM" : ", COM") + std::to_string(info.comNumber);
    }
    return names;
}

// What follows "the scanner" when no port answered but some could not be opened: the scanner
// may wait on one of those.
std::string AnswersOnNoneOpened(const std::vector<comports::ComPortInfo>& notOpened) {
    return "answers on none of the ports opened; not opened: " + ComNames(notOpened);
}

std::string Describe(const std::vector<comports::ComPortInfo>& ports) {
    std::string text;
    for (const auto& info : ports) {
        text += (text.empty() ? "  " : "\n  ") + info.description;
    }
    return text;
}

// The port with its label and device: a device path's own, a COM number's as the list says.
ResolvedPort Resolved(const PortArgument& port, const std::vector<comports::ComPortInfo>& known) {
    if (port.kind == PortArgument::Kind::kDevicePath) {
        return {port, PortLabel(port), PrintableText(port.devicePath)};
    }
    const auto info = std::find_if(known.begin(), known.end(), [&](const auto& candidate) {
        return candidate.comNumber == port.comNumber;
    });
    return {port, PortLabel(port), info != known.end() ? info->device : std::string()};
}

// auto: the one port where the scanner answers; none, after saying why, when none or several.
// found: every port where one answers; none, after saying so, when there is none.
std::optional<std::vector<ResolvedPort>> FindPorts(ConsoleSurroundings& s,
                                                   PortArgument::Kind kind) {
    const FoundPorts look = Find(s);
    const auto& found = look.answering;
    const std::string name = kind == PortArgument::Kind::kAuto ? "auto" : "found";
    if (found.empty()) {
        // A port that could not be opened may be the one where the scanner waits.
        s.console.Alert(look.notOpened.empty()
                            ? "--port " + name + ": no port where the scanner answers"
                            : "--port " + name + ": the scanner " +
                                  AnswersOnNoneOpened(look.notOpened));
        return std::nullopt;
    }
    if (kind == PortArgument::Kind::kAuto && found.size() > 1) {
        s.console.Alert("--port auto: the scanner answers on several ports:\n" + Describe(found));
        return std::nullopt;
    }
    std::vector<ResolvedPort> resolved;
    for (const auto& info : found) {
        resolved.push_back(Resolved({PortArgument::Kind::kComNumber, info.comNumber, {}}, found));
    }
    s.console.Note("--port " + name + ": the scanner answers on " + ComNames(found));
    return resolved;
}

// The ports the arguments name, each with its label and device.
std::optional<std::vector<ResolvedPort>> Resolve(ConsoleSurroundings& s,
                                                 const std::vector<PortArgument>& ports) {
    if (ports.size() == 1 && (ports[0].kind == PortArgument::Kind::kAuto ||
                              ports[0].kind == PortArgument::Kind::kFound)) {
        return FindPorts(s, ports[0].kind);
    }
    const auto known = s.describePorts();
    std::vector<ResolvedPort> resolved;
    for (const PortArgument& port : ports) {
        resolved.push_back(Resolved(port, known));
    }
    return resolved;
}

// The run's hold is taken once around all ports; theirs is this.
class NoKeepAwake final : public IKeepAwake {
public:
    void Begin(IEventPump*) override {}
    void End() override {}
};

// What one port's thread works with, made before the thread starts: a console of its own, the
// run's ports, clock and firmware.
struct PortRun {
    PortRun(ConsoleSurroundings& run, const ResolvedPort& port, int row)
        : console(run.console, port.label, row), s{console,           run.opener,
                                                   run.clock,         noHold,
                                                   run.firmware,      run.firmwareSha256,
                                                   run.describePorts, run.whyNotOpened} {}

    Console console;
    NoKeepAwake noHold;
    ConsoleSurroundings s;
};

// Nothing may leave a thread; the port has been closed on the way out. The line a run on one
// port gives, with the port's prefix, and the port's record says no more than that.
PortReport Failed(Console& console, const ResolvedPort& port) {
    try {
        console.Alert("tr520-cli: " + cli::InternalErrorText(std::current_exception()));
    } catch (...) {
        // Standard error could not take the line either; the exit code still tells.
    }
    PortReport report;
    report.label = port.label;
    report.device = port.device;
    report.exitCode = cli::kExitInternal;
    return report;
}

std::string VersionBefore(const PortReport& port) {
    if (!port.test || !port.test->scannerVersion) {
        return "-";
    }
    return ScannerVersionText(*port.test->scannerVersion);
}

// The final table: port, device, scanner version before, outcome, time; one line per port.
std::string FormatPortTable(const std::vector<PortReport>& ports) {
    std::vector<std::vector<std::string>> rows{{"Port", "Device", "Before", "Outcome", "Time"}};
    for (const PortReport& port : ports) {
        rows.push_back({port.label, port.device.empty() ? "-" : port.device, VersionBefore(port),
                        PortOutcomeName(port), FormatDuration(port.testMs + port.updateMs)});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    std::string table;
    for (const auto& row : rows) {
        table += table.empty() ? "" : "\n";
        for (std::size_t column = 0; column + 1 < row.size(); ++column) {
            table += row[column] + std::string(widths[column] + 2 - row[column].size(), ' ');
        }
        table += row.back();
    }
    return table;
}

// Every port side by side, each on a thread of its own with its own console and Ctrl+C view;
// the run's hold on sleep and shutdown, when upload, covers them all. Ends with the table, and
// with 0 when every port's code is 0, otherwise the most severe.
int RunSeveralPorts(ConsoleSurroundings& s, const std::vector<ResolvedPort>& ports, bool upload,
                    CommandReport& report) {
    if (upload) {
        s.console.OpenBoard(static_cast<int>(ports.size()));
    }
    std::vector<std::unique_ptr<PortRun>> runs;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        runs.push_back(std::make_unique<PortRun>(s, ports[i], static_cast<int>(i)));
    }
    std::vector<PortReport> reports(ports.size());
    {
        std::unique_ptr<KeepAwakeScope> hold;
        InterruptPump pressed(s.console.Interrupts());  // a press while it is taken ends the run
        if (upload) {
            hold = std::make_unique<KeepAwakeScope>(s.keepAwake, &pressed);
        }
        // Joined however this ends: a thread that cannot be started leaves those that were to
        // finish their uploads before the failure goes on.
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < ports.size(); ++i) {
            threads.emplace_back([&, i] {
                try {
                    reports[i] = RunPortSession(runs[i]->s, ports[i], upload);
                } catch (...) {
                    reports[i] = Failed(runs[i]->console, ports[i]);
                }
            });
        }
        for (std::jthread& thread : threads) {
            thread.join();
        }
    }
    s.console.CloseBoard();
    int code = cli::kExitDone;
    for (PortReport& port : reports) {
        code = cli::MostSevereExitCode(code, port.exitCode);
        report.ports.push_back(std::move(port));
    }
    s.console.Line(FormatPortTable(report.ports));
    return code;
}

// One port on this thread; several side by side.
int RunOnPorts(ConsoleSurroundings& s, const std::vector<PortArgument>& arguments, bool upload,
               CommandReport& report) {
    const auto ports = Resolve(s, arguments);
    if (!ports) {
        return cli::kExitPortNotOpened;
    }
    if (upload && ports->size() > 1 && !s.console.AssumesYes()) {
        s.console.Alert(kSeveralPortsNeedYes);
        return cli::kExitUsage;
    }
    if (ports->size() == 1) {
        report.ports.push_back(RunPortSession(s, ports->front(), upload));
        return report.ports.back().exitCode;
    }
    return RunSeveralPorts(s, *ports, upload, report);
}

}  // namespace

int RunInfoCommand(ConsoleSurroundings& s) {
    const FirmwarePayload& firmware = s.firmware;
    s.console.Line("Firmware version: " + VersionText(firmware.VersionByte()));
    s.console.Line("Length: " + std::to_string(firmware.imageLength) + " bytes");
    s.console.Line("Packets: " + std::to_string(scanlink::DataPacketCount(firmware.imageLength)) +
                   " (" + std::to_string(scanlink::kMaxDataBytes) + " image bytes each)");
    s.console.Line("SHA-256: " + s.firmwareSha256);
    return cli::kExitDone;
}

int RunPortsCommand(ConsoleSurroundings& s, bool all, CommandReport& report) {
    for (const auto& info : s.describePorts()) {
        if (all || info.present) {
            s.console.Line(info.description);
            report.listed.push_back(info);
        }
    }
    if (report.listed.empty()) {
        s.console.Note("No COM port is present (ports --all lists all " +
                       std::to_string(comports::kComPortCount) + ").");
    }
    return cli::kExitDone;
}

int RunFindCommand(ConsoleSurroundings& s, CommandReport& report) {
    try {
        const FoundPorts look = Find(s);
        report.listed = look.answering;
        for (const auto& info : report.listed) {
            s.console.Line(info.description);
        }
        if (!report.listed.empty()) {
            return cli::kExitDone;
        }
        if (!look.notOpened.empty()) {
            s.console.Note("The scanner " + AnswersOnNoneOpened(look.notOpened) + ".");
            return cli::kExitPortNotOpened;
        }
        s.console.Note("No port where the scanner answers.");
        return cli::kExitNoAnswer;
    } catch (const ConsoleInterrupted&) {
        return cli::kExitInterrupted;
    }
}

int RunTestCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                   CommandReport& report) {
    try {
        return RunOnPorts(s, ports, /*upload=*/false, report);
    } catch (const ConsoleInterrupted&) {
        return cli::kExitInterrupted;
    }
}

int RunUpdateCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                     CommandReport& report) {
    try {
        report.messages.push_back(dialog_template::kStartupWarning);
        if (!s.console.Ask(dialog_template::kStartupWarning)) {
            return cli::kExitAnsweredNo;
        }
        s.console.Interrupts().SetUploadNotice([&s] { s.console.Alert(kUploadUnderWayNotice); });
        return RunOnPorts(s, ports, /*upload=*/true, report);
    } catch (const ConsoleInterrupted&) {
        return cli::kExitInterrupted;
    }
}

int RunRequest(const CliRequest& request, ConsoleSurroundings& s, CommandReport& report) {
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
