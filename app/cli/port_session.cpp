#include "port_session.h"

#include "dialog_texts.h"
#include "outcomes.h"
#include "printable_text.h"
#include "pumping_io.h"

const char* const kUploadUnderWayNotice =
    "An upload is under way. Press Ctrl+C again to abandon it: the scanner's boot code then "
    "asks for a new load.";
const char* const kUploadAbandonedNotice =
    "Upload abandoned. The scanner's boot code now asks for a new load: run update again.";

namespace {

// Beside the message an exchange ends with, once its port's device went away.
constexpr const char* kPortGoneNotice =
    "The scanner's port went away: the device was removed or its cable pulled.";
constexpr int kNoApplicationCode = 255;  // the version a scanner without application code gives

// A COM number opens as the dialog opens its list entry, a device path as it stands; the
// messages name the COM number, and a device that none leads to shows as COM1.
exchange::PortToOpen PortToOpen(const PortArgument& port) {
    if (port.kind != PortArgument::Kind::kDevicePath) {
        return exchange::ComPort(port.comNumber);
    }
    return {port.devicePath, port.comNumber > 0 ? port.comNumber : 1};
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& texts) {
    to.insert(to.end(), texts.begin(), texts.end());
}

int RunTest(ConsoleSurroundings& s, exchange::ExchangeIo& io, PortReport& report, bool upload) {
    const std::uint32_t start = s.clock.GetTickCount();
    report.test = exchange::RunVersionCheck(io, s.firmware);
    report.testMs = s.clock.GetTickCount() - start;
    Append(report.messages, report.test->messages);
    return cli::ExitCodeAfterTest(report.test->outcome, /*questionAsked=*/upload);
}

int RunUpload(ConsoleSurroundings& s, exchange::ExchangeIo& io, PortReport& report) {
    ConsoleInterrupts& interrupts = s.console.Interrupts();
    interrupts.Check();  // a press before the upload began ends at once
    const std::uint32_t start = s.clock.GetTickCount();
    {
        // Taking the hold may wait seconds for the system bus: a press meanwhile comes before
        // the upload, and ends the run at once as any such press does.
        InterruptPump pressed(interrupts);
        const KeepAwakeScope keepAwake(s.keepAwake, &pressed);
        interrupts.Check();
        const ConsoleInterrupts::UploadScope uploadUnderWay(interrupts);
        report.update = exchange::RunFirmwareUpload(io, s.firmware);
    }
    report.updateMs = s.clock.GetTickCount() - start;
    Append(report.messages, report.update->messages);
    if (report.update->outcome == exchange::UploadOutcome::kAccepted) {
        report.messages.push_back(TR_TEXT_COMPLETION);
    }
    if (interrupts.Ended()) {
        s.console.Alert(kUploadAbandonedNotice);  // the port has been closed by now
        report.interrupted = true;
        return cli::kExitInterrupted;
    }
    return cli::ExitCodeAfterUpdate(report.update->outcome);
}

}  // namespace

void ConsoleSurroundings::SayWhyNotOpened(const std::string& port) const {
    if (const std::string why = whyNotOpened ? whyNotOpened(port) : ""; !why.empty()) {
        console.Alert(why);
    }
}

bool ConsoleFrontEnd::AskYesNo(const std::string& text) {
    if (!m_ask) {
        m_console.Line(text);  // `test` starts nothing: the text, and no upload is offered
        return false;
    }
    m_unanswered = text;
    const bool yes = m_console.Ask(text);
    m_unanswered.clear();
    return yes;
}

void ConsoleFrontEnd::UploadAccepted() {
    m_console.Line(TR_TEXT_COMPLETION);
}

PortReport RunPortSession(ConsoleSurroundings& s, const ResolvedPort& port, bool upload) {
    PortReport report;
    report.label = port.label;
    report.device = port.device;
    InterruptPump pump(s.console.Interrupts());
    PumpingOpener opener(s.opener, pump);
    PumpingClock clock(s.clock, pump, kInterruptSliceMs);
    ConsoleFrontEnd front(s.console, s.clock, PortToOpen(port.argument), /*askQuestions=*/upload);
    exchange::ExchangeIo io{front, opener, clock};
    try {
        report.exitCode = RunTest(s, io, report, upload);
        if (upload && report.test->outcome == exchange::VersionCheckOutcome::kUploadOffered) {
            report.exitCode = RunUpload(s, io, report);
        }
    } catch (const ConsoleInterrupted&) {
        report.interrupted = true;
        report.exitCode = cli::kExitInterrupted;
        if (!front.Unanswered().empty()) {
            report.messages.push_back(front.Unanswered());
        }
    }
    if ((report.test && report.test->portWentAway) ||
        (report.update && report.update->portWentAway)) {
        s.console.Alert(kPortGoneNotice);
    }
    if (report.exitCode == cli::kExitPortNotOpened) {
        // The messages name a COM number: say which device stood for it when none does.
        const PortArgument& argument = port.argument;
        const bool path = argument.kind == PortArgument::Kind::kDevicePath;
        if (path && argument.comNumber == 0) {
            s.console.Alert("(the port above is " + PrintableText(argument.devicePath) + ")");
        }
        s.SayWhyNotOpened(path ? argument.devicePath : "COM" + std::to_string(argument.comNumber));
    }
    return report;
}

std::string PortOutcomeName(const PortReport& port) {
    if (port.interrupted) {
        return cli::kInterruptedName;
    }
    if (port.update) {
        return cli::OutcomeName(port.update->outcome);
    }
    return port.test ? cli::OutcomeName(port.test->outcome) : cli::kNeitherRanName;
}

std::string ScannerVersionText(int scannerVersion) {
    if (scannerVersion == kNoApplicationCode) {
        return "none";
    }
    return VersionText(static_cast<std::uint8_t>(scannerVersion));
}
