#include "console_commands.h"

#include <optional>

#include "dialog_templates.h"
#include "exit_codes.h"
#include "link_frame.h"
#include "port_finder.h"
#include "port_run.h"
#include "printable_text.h"
#include "pumping_io.h"
#include "resource.h"
#include "several_ports.h"

namespace {


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

FoundPorts Find(ConsoleSurroundings& s) {
    const auto ports = s.describePorts();
    int present = 0;
    for (const auto& info : ports) {
        present += info.present ? 1 : 0;
    }
    s.output.Note("Listening for the scanner's ready byte on " + std::to_string(present) +
                  " present port(s), up to 2 s each...");
    InterruptPump pump(s.interrupts);
    PumpingOpener opener(s.opener, pump);
    PumpingClock clock(s.clock, pump, kInterruptSliceMs);
    return FindScannerPorts(ports, opener, clock, s.output, s.whyNotOpened);
}

// What the COM number stands for, as the port list says.
std::string DeviceOf(const std::vector<comports::ComPortInfo>& known, int comNumber) {
    for (const auto& info : known) {
        if (info.comNumber == comNumber) {
            return info.device;
        }
    }
    return {};
}

ResolvedPort Resolved(const PortArgument& port, const std::vector<comports::ComPortInfo>& known) {
    const std::string device = port.kind == PortArgument::Kind::kDevicePath
                                   ? PrintableText(port.devicePath)
                                   : DeviceOf(known, port.comNumber);
    return {port, PortLabel(port), device};
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
        s.output.Alert(look.notOpened.empty()
                           ? "--port " + name + ": no port where the scanner answers"
                           : "--port " + name + ": the scanner " +
                                 AnswersOnNoneOpened(look.notOpened));
        return std::nullopt;
    }
    if (kind == PortArgument::Kind::kAuto && found.size() > 1) {
        s.output.Alert("--port auto: the scanner answers on several ports:\n" + Describe(found));
        return std::nullopt;
    }
    std::vector<ResolvedPort> resolved;
    for (const auto& info : found) {
        const PortArgument port{PortArgument::Kind::kComNumber, info.comNumber, {}};
        resolved.push_back(Resolved(port, found));
    }
    s.output.Note("--port " + name + ": the scanner answers on " + ComNames(found));
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

// One port on this thread as before; several side by side.
int RunOnPorts(ConsoleSurroundings& s, const std::vector<ResolvedPort>& ports, bool upload,
               CommandReport& report) {
    if (ports.size() == 1) {
        report.ports.push_back(RunExchangesOnPort(s, ports[0], upload));
        return report.ports.back().exitCode;
    }
    return RunSeveralPorts(s, ports, upload, report);
}

}  // namespace

int RunInfoCommand(ConsoleSurroundings& s) {
    const FirmwarePayload& firmware = s.firmware;
    const int length = static_cast<int>(firmware.imageLength);
    s.output.Line("Firmware version: " + VersionText(firmware.VersionByte()));
    s.output.Line("Length: " + std::to_string(length) + " bytes");
    s.output.Line("Packets: " + std::to_string(scanlink::DataPacketCount(firmware.imageLength)) + " (" +
                  std::to_string(scanlink::kMaxDataBytes) + " image bytes each)");
    s.output.Line("SHA-256: " + s.firmwareSha256);
    return cli::kExitDone;
}

int RunPortsCommand(ConsoleSurroundings& s, bool all, CommandReport& report) {
    for (const auto& info : s.describePorts()) {
        if (all || info.present) {
            s.output.Line(info.description);
            report.listed.push_back(info);
        }
    }
    if (report.listed.empty()) {
        s.output.Note("No COM port is present (ports --all lists all " +
                      std::to_string(comports::kComPortCount) + ").");
    }
    return cli::kExitDone;
}

int RunFindCommand(ConsoleSurroundings& s, CommandReport& report) {
    try {
        const FoundPorts look = Find(s);
        report.listed = look.answering;
        for (const auto& info : report.listed) {
            s.output.Line(info.description);
        }
        if (!report.listed.empty()) {
            return cli::kExitDone;
        }
        if (!look.notOpened.empty()) {
            s.output.Note("The scanner " + AnswersOnNoneOpened(look.notOpened) + ".");
            return cli::kExitPortNotOpened;
        }
        s.output.Note("No port where the scanner answers.");
        return cli::kExitNoAnswer;
    } catch (const ConsoleInterrupted&) {
        return cli::kExitInterrupted;
    }
}

int RunTestCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                   CommandReport& report) {
    try {
        const auto resolved = Resolve(s, ports);
        if (!resolved) {
            return cli::kExitPortNotOpened;
        }
        return RunOnPorts(s, *resolved, /*upload=*/false, report);
    } catch (const ConsoleInterrupted&) {
        return cli::kExitInterrupted;
    }
}

int RunUpdateCommand(ConsoleSurroundings& s, const std::vector<PortArgument>& ports,
                     CommandReport& report) {
    try {
        report.messages.push_back(dialog_template::kStartupWarning);
        if (s.questions.Ask(dialog_template::kStartupWarning) != IDYES) {
            return cli::kExitAnsweredNo;
        }
        const auto resolved = Resolve(s, ports);
        if (!resolved) {
            return cli::kExitPortNotOpened;
        }
        if (resolved->size() > 1 && !s.questions.AssumesYes()) {
            s.output.Alert(kSeveralPortsNeedYes);
            return cli::kExitUsage;
        }
        s.interrupts.SetUploadNotice([&s] { s.output.Alert(kUploadUnderWayNotice); });
        return RunOnPorts(s, *resolved, /*upload=*/true, report);
    } catch (const ConsoleInterrupted&) {
        return cli::kExitInterrupted;
    }
}
