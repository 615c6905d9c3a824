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

using Ports = std::vector<comports::ComPortInfo>;

constexpr std::uint32_t kFindListenMs = 2000;  // how long each port is listened to for 'C'

// What listening on the present ports found, each list in COM order.
struct FoundPorts {
    Ports answering;
    Ports notOpened;  // left alone: the scanner may wait on one of these
};

// "COM7, COM9"
std::string ComNames(const Ports& ports) {
    std::string names;
    for (const auto& info : ports) {
        names += (names.empty() ? "COM" : ", COM") + std::to_string(info.comNumber);
    }
    return names;
}

// What follows "the scanner" when no port answered but some could not be opened.
std::string AnswersOnNoneOpened(const FoundPorts& found) {
    return "answers on none of the ports opened; not opened: " + ComNames(found.notOpened);
}

bool HearsReadyByte(exchange::IPort& port, exchange::IClock& clock) {
    const exchange::detail::TimeWindow window(clock, kFindListenMs);
    while (!window.HasRunOut()) {
        std::uint8_t received = scanlink::NOTHING;
        if (exchange::detail::ReadWaitingByte(port, received) && received == scanlink::READY) {
            return true;
        }
    }
    return false;
}

// A scanner in its upgrade mode keeps sending its ready byte. Only present ports are opened,
// since opening raises DTR and RTS, one at a time, each closed with its settings restored
// before the next; Ctrl+C ends it, the open port closed first.
FoundPorts Find(ConsoleSurroundings& s) {
    const Ports ports = s.describePorts();
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
            continue;
        }
        const std::string com = "COM" + std::to_string(info.comNumber);
        auto port =
            exchange::detail::OpenScannerPort(opener, exchange::ComPort(info.comNumber).name);
        if (!port) {
            found.notOpened.push_back(info);
            s.console.Note(com + ": cannot be opened, left alone");
            s.SayWhyNotOpened(com);  // a refusal: shown also with --quiet
        } else if (HearsReadyByte(*port, clock)) {
            found.answering.push_back(info);
        }
    }
    return found;
}

ResolvedPort Resolved(const PortArgument& port, const std::string& device) {
    return {port, PortLabel(port), device};
}

// auto: the one port where the scanner answers; found: every such port. None, after saying
// why, when there is none, or for auto several.
std::optional<std::vector<ResolvedPort>> FindPorts(ConsoleSurroundings& s,
                                                   PortArgument::Kind kind) {
    const FoundPorts look = Find(s);
    const Ports& found = look.answering;
    const std::string name = kind == PortArgument::Kind::kAuto ? "auto" : "found";
    if (found.empty()) {
        s.console.Alert("--port " + name + ": " +
                        (look.notOpened.empty() ? "no port where the scanner answers"
                                                : "the scanner " + AnswersOnNoneOpened(look)));
        return std::nullopt;
    }
    if (kind == PortArgument::Kind::kAuto && found.size() > 1) {
        std::string list;
        for (const auto& info : found) {
            list += "\n  " + info.description;
        }
        s.console.Alert("--port auto: the scanner answers on several ports:" + list);
        return std::nullopt;
    }
    std::vector<ResolvedPort> resolved;
    for (const auto& info : found) {
        resolved.push_back(
            Resolved({PortArgument::Kind::kComNumber, info.comNumber, {}}, info.device));
    }
    s.console.Note("--port " + name + ": the scanner answers on " + ComNames(found));
    return resolved;
}

// The ports the arguments name, each with its label and device: a device path's own, a COM
// number's as the port list says.
std::optional<std::vector<ResolvedPort>> Resolve(ConsoleSurroundings& s,
                                                 const std::vector<PortArgument>& ports) {
    if (ports.size() == 1 && (ports[0].kind == PortArgument::Kind::kAuto ||
                              ports[0].kind == PortArgument::Kind::kFound)) {
        return FindPorts(s, ports[0].kind);
    }
    const Ports known = s.describePorts();
    std::vector<ResolvedPort> resolved;
    for (const PortArgument& port : ports) {
        std::string device = PrintableText(port.devicePath);
        if (port.kind != PortArgument::Kind::kDevicePath) {
            const auto info = std::find_if(known.begin(), known.end(), [&](const auto& candidate) {
                return candidate.comNumber == port.comNumber;
            });
            device = info != known.end() ? info->device : "";
        }
        resolved.push_back(Resolved(port, device));
    }
    return resolved;
}

// The run's hold is taken once around all ports; theirs is this.
class NoKeepAwake final : public IKeepAwake {
public:
    void Begin(IEventPump*) override {}
    void End() override {}
};

// What one port's thread works with, made before the threads start: a console of its own, the
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

// Nothing may leave a thread: the port, closed by now, ends with a line that says why.
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

// Port, device, scanner version before, outcome, time; one line per port, in columns.
std::string PortTable(const std::vector<PortReport>& ports) {
    std::vector<std::vector<std::string>> rows{{"Port", "Device", "Before", "Outcome", "Time"}};
    for (const PortReport& port : ports) {
        const bool replied = port.test && port.test->scannerVersion;
        rows.push_back({port.label, port.device.empty() ? "-" : port.device,
                        replied ? ScannerVersionText(*port.test->scannerVersion) : "-",
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

// Every port on a thread of its own, with its own console and view of Ctrl+C, inside the run's
// one hold on sleep and shutdown when upload. Ends with the table and the most severe code.
int RunSeveralPorts(ConsoleSurroundings& s, const std::vector<ResolvedPort>& ports, bool upload,
                    CommandReport& report) {
    if (upload) {
        s.console.OpenBoard(static_cast<int>(ports.size()));
    }
    std::vector<std::unique_ptr<PortRun>> runs;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        runs.push_back(std::make_unique<PortRun>(s, ports[i], static_cast<int>(i)));
    }
    report.ports.resize(ports.size());
    {
        InterruptPump pressed(s.console.Interrupts());  // a press while it is taken ends the run
        std::optional<KeepAwakeScope> hold;
        if (upload) {
            hold.emplace(s.keepAwake, &pressed);
        }
        // Joined however this ends: a thread that cannot be started leaves those that were to
        // finish their uploads before the failure goes on.
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < ports.size(); ++i) {
            threads.emplace_back([&, i] {
                try {
                    report.ports[i] = RunPortSession(runs[i]->s, ports[i], upload);
                } catch (...) {
                    report.ports[i] = Failed(runs[i]->console, ports[i]);
                }
            });
        }
    }
    s.console.CloseBoard();
    int code = cli::kExitDone;
    for (const PortReport& port : report.ports) {
        code = cli::MostSevereExitCode(code, port.exitCode);
    }
    s.console.Line(PortTable(report.ports));
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
        s.console.Alert(kSeveralPortsNeedYes);  // --port found found several
        return cli::kExitUsage;
    }
    if (ports->size() == 1) {
        report.ports.push_back(RunPortSession(s, ports->front(), upload));
        return report.ports.back().exitCode;
    }
    return RunSeveralPorts(s, *ports, upload, report);
}

// The command's exit code; Ctrl+C ends it with kExitInterrupted, its ports closed.
template <typename Command>
int Interruptible(Command command) {
    try {
        return command();
    } catch (const ConsoleInterrupted&) {
        return cli::kExitInterrupted;
    }
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
    return Interruptible([&] {
        const FoundPorts look = Find(s);
        report.listed = look.answering;
        for (const auto& info : report.listed) {
            s.console.Line(info.description);
        }
        if (!report.listed.empty()) {
            return cli::kExitDone;
        }
        if (!look.notOpened.empty()) {
            s.console.Note("The scanner " + AnswersOnNoneOpened(look) + ".");
            return cli::kExitPortNotOpened;
        }
        s.console.Note("No port where the scanner answers.");
        return cli::kExitNoAnswer;
    });
}

int RunTestCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                   CommandReport& report) {
    return Interruptible([&] { return RunOnPorts(s, ports, /*upload=*/false, report); });
}

int RunUpdateCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                     CommandReport& report) {
    return Interruptible([&] {
        report.messages.push_back(dialog_template::kStartupWarning);
        if (!s.console.Ask(dialog_template::kStartupWarning)) {
            return cli::kExitAnsweredNo;
        }
        s.console.Interrupts().SetUploadNotice([&s] { s.console.Alert(kUploadUnderWayNotice); });
        return RunOnPorts(s, ports, /*upload=*/true, report);
    });
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
