#include "port_run.h"

#include "counting_opener.h"
#include "exit_codes.h"
#include "firmware_upload.h"
#include "printable_text.h"
#include "pumping_io.h"
#include "version_check.h"

const char* const kUploadUnderWayNotice =
    "An upload is under way. Press Ctrl+C again to abandon it: the scanner's boot code then "
    "asks for a new load.";
const char* const kUploadAbandonedNotice =
    "Upload abandoned. The scanner's boot code now asks for a new load: run update again.";

namespace {

// Beside the message an exchange ends with, once its port's device went away.
constexpr const char* kPortGoneNotice =
    "The scanner's port went away: the device was removed or its cable pulled.";

// Opens through another opener; notes whether a port it handed out reported that its device
// went away.
class GoneAwayWatch final : public exchange::IPortOpener {
public:
    explicit GoneAwayWatch(exchange::IPortOpener& inner) : m_inner(inner) {}
    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override {
        auto port = m_inner.Open(name, baudRate, parity, dataBits, stopBits, dtr, rts);
        return port ? std::make_unique<WatchedPort>(std::move(port), m_gone) : nullptr;
    }
    bool Gone() const { return m_gone; }

private:
    class WatchedPort final : public exchange::IPort {
    public:
        WatchedPort(std::unique_ptr<exchange::IPort> port, bool& gone)
            : m_port(std::move(port)), m_gone(gone) {}
        int BytesWaiting() override { return m_port->BytesWaiting(); }
        int Read(void* buffer, int count, int limitMs) override {
            return m_port->Read(buffer, count, limitMs);
        }
        int Write(const void* buffer, int count, int limitMs) override {
            return m_port->Write(buffer, count, limitMs);
        }
        void DrainInput() override { m_port->DrainInput(); }
        bool HasGoneAway() override {
            m_gone = m_port->HasGoneAway() || m_gone;
            return m_gone;
        }

    private:
        std::unique_ptr<exchange::IPort> m_port;
        bool& m_gone;
    };

    exchange::IPortOpener& m_inner;
    bool m_gone = false;
};

// Opens the device path in place of whatever COM name the exchange asks for.
class DevicePathOpener final : public exchange::IPortOpener {
public:
    DevicePathOpener(exchange::IPortOpener& inner, std::string path)
        : m_inner(inner), m_path(std::move(path)) {}
    std::unique_ptr<exchange::IPort> Open(const std::string&, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override {
        return m_inner.Open(m_path, baudRate, parity, dataBits, stopBits, dtr, rts);
    }

private:
    exchange::IPortOpener& m_inner;
    std::string m_path;
};

// The ports and the clock of one port's exchanges, every call of theirs looking for Ctrl+C
// first, the ports counting what crosses them.
class CheckedIo {
public:
    CheckedIo(ConsoleSurroundings& s, const PortArgument& port)
        : m_pump(s.interrupts),
          m_device(s.opener, port.devicePath),
          m_pumping(port.kind == PortArgument::Kind::kDevicePath ? m_device : s.opener, m_pump),
          m_watch(m_pumping),
          m_counting(m_watch),
          m_clock(s.clock, m_pump, kInterruptSliceMs) {}
    exchange::IPortOpener& Opener() { return m_counting; }
    exchange::IClock& Clock() { return m_clock; }
    // Where the ports opened from now on count (TEST's are not counted).
    void CountInto(LinkCounts& counts) { m_counting.CountInto(&counts); }
    // Whether a port's device went away during the exchanges.
    bool PortWentAway() const { return m_watch.Gone(); }

private:
    InterruptPump m_pump;
    DevicePathOpener m_device;
    PumpingOpener m_pumping;
    GoneAwayWatch m_watch;
    CountingOpener m_counting;
    PumpingClock m_clock;
};

// The COM number the messages name; a device path that none leads to shows as COM1.
exchange::PortToOpen PortFor(const PortArgument& port) {
    return exchange::ComPort(port.comNumber > 0 ? port.comNumber : 1);
}

// Milliseconds since start on the command's clock.
std::uint32_t Since(exchange::IClock& clock, std::uint32_t start) {
    return clock.GetTickCount() - start;
}

// The messages name a COM number; say which device stood for it when none does, and what
// kept it from being opened when that can be told.
void NameDeviceOnFailure(ConsoleSurroundings& s, const PortArgument& port, int code) {
    if (code != cli::kExitPortNotOpened) {
        return;
    }
    const bool path = port.kind == PortArgument::Kind::kDevicePath;
    if (path && port.comNumber == 0) {
        s.output.Alert("(the port above is " + PrintableText(port.devicePath) + ")");
    }
    const std::string why =
        s.whyNotOpened
            ? s.whyNotOpened(path ? port.devicePath : "COM" + std::to_string(port.comNumber))
            : std::string();
    if (!why.empty()) {
        s.output.Alert(why);
    }
}

// TEST through view; its exit code.
int RunTest(ConsoleSurroundings& s, CheckedIo& io, ConsoleView& view, PortReport& report,
            bool upload) {
    exchange::ExchangeIo exchangeIo{view, io.Opener(), io.Clock()};
    const std::uint32_t start = s.clock.GetTickCount();
    report.test = exchange::RunVersionCheck(exchangeIo, s.firmware);
    report.testMs = Since(s.clock, start);
    return cli::ExitCodeAfterTest(report.test->outcome, /*questionAsked=*/upload);
}

int RunUpload(ConsoleSurroundings& s, CheckedIo& io, ConsoleView& view, PortReport& report) {
    s.interrupts.Check();  // a press before the upload began ends at once
    io.CountInto(report.updateLink);
    const std::uint32_t start = s.clock.GetTickCount();
    {
        // Taking the hold may wait seconds for the system bus: a press meanwhile comes before
        // the upload, and ends the run at once as any such press does.
        InterruptPump pressed(s.interrupts);
        const KeepAwakeScope keepAwake(s.keepAwake, &pressed);
        s.interrupts.Check();
        const ConsoleInterrupts::UploadScope upload(s.interrupts);
        exchange::ExchangeIo exchangeIo{view, io.Opener(), io.Clock()};
        report.update = exchange::RunFirmwareUpload(exchangeIo, s.firmware).outcome;
    }
    report.updateMs = Since(s.clock, start);
    if (s.interrupts.Ended()) {
        s.output.Alert(kUploadAbandonedNotice);  // the port has been closed by now
        report.interrupted = true;
        return cli::kExitInterrupted;
    }
    return cli::ExitCodeAfterUpdate(*report.update);
}

// What the view showed, into the record.
void TakeShown(const ShownOutcome& shown, PortReport& report) {
    report.messages = shown.messages;
    report.questionShown = shown.questionShown;
    report.imageBytesAccepted = shown.acceptedBytes;
}

}  // namespace

PortReport RunExchangesOnPort(ConsoleSurroundings& s, const ResolvedPort& port, bool upload) {
    PortReport report;
    report.label = port.label;
    report.device = port.device;
    CheckedIo io(s, port.argument);
    ConsoleView view(s.output, s.questions, s.clock, PortFor(port.argument),
                     /*askQuestions=*/upload);
    try {
        report.exitCode = RunTest(s, io, view, report, upload);
        if (upload && report.test->outcome == exchange::VersionCheckOutcome::kUploadOffered) {
            report.exitCode = RunUpload(s, io, view, report);
        }
    } catch (const ConsoleInterrupted&) {
        report.interrupted = true;
        report.exitCode = cli::kExitInterrupted;
    }
    if (io.PortWentAway()) {
        s.output.Alert(kPortGoneNotice);
    }
    TakeShown(view.Outcome(), report);
    NameDeviceOnFailure(s, port.argument, report.exitCode);
    return report;
}
