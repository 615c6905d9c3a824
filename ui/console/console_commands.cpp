#include "console_commands.h"

#include <optional>

#include "dialog_templates.h"
#include "exchange_support.h"
#include "firmware_upload.h"
#include "port_finder.h"
#include "pumping_io.h"
#include "resource.h"
#include "sha256.h"
#include "version_check.h"

const char* const kUploadUnderWayNotice =
    "An upload is under way. Press Ctrl+C again to abandon it: the scanner's boot code then "
    "asks for a new load.";
const char* const kUploadAbandonedNotice =
    "Upload abandoned. The scanner's boot code now asks for a new load: run update again.";

namespace {

constexpr int kBytesPerPacket = 120;
constexpr std::uint32_t kSleepSliceMs = 50;  // Ctrl+C is seen within this during pauses

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

// The ports and the clock of one command, every call of theirs looking for Ctrl+C first.
class CheckedIo {
public:
    CheckedIo(ConsoleSurroundings& s, const PortArgument* port)
        : m_pump(s.interrupts),
          m_device(s.opener, port != nullptr ? port->devicePath : std::string()),
          m_opener(port != nullptr && port->kind == PortArgument::Kind::kDevicePath ? m_device
                                                                                    : s.opener,
                   m_pump),
          m_clock(s.clock, m_pump, kSleepSliceMs) {}
    exchange::IPortOpener& Opener() { return m_opener; }
    exchange::IClock& Clock() { return m_clock; }

private:
    InterruptPump m_pump;
    DevicePathOpener m_device;
    PumpingOpener m_opener;
    PumpingClock m_clock;
};

std::string Describe(const std::vector<comports::ComPortInfo>& ports) {
    std::string text;
    for (const auto& info : ports) {
        text += (text.empty() ? "  " : "\n  ") + info.description;
    }
    return text;
}

std::vector<comports::ComPortInfo> Find(ConsoleSurroundings& s) {
    const auto ports = s.describePorts();
    int present = 0;
    for (const auto& info : ports) {
        present += info.present ? 1 : 0;
    }
    s.output.Note("Listening for the scanner's ready byte on " + std::to_string(present) +
                  " present port(s), up to 2 s each...");
    CheckedIo io(s, nullptr);
    return FindScannerPorts(ports, io.Opener(), io.Clock(), s.output);
}

// The port --port names; with auto, the one port where the scanner answers. None, after
// saying why, when auto finds none or several.
std::optional<PortArgument> Resolve(ConsoleSurroundings& s, const PortArgument& port) {
    if (port.kind != PortArgument::Kind::kAuto) {
        return port;
    }
    const auto found = Find(s);
    if (found.size() != 1) {
        s.output.Alert(found.empty() ? "--port auto: no port where the scanner answers"
                                     : "--port auto: the scanner answers on several ports:\n" +
                                           Describe(found));
        return std::nullopt;
    }
    s.output.Note("--port auto: the scanner answers on COM" + std::to_string(found[0].comNumber));
    return PortArgument{PortArgument::Kind::kComNumber, found[0].comNumber, {}};
}

// The messages name a COM number; say which device stood for it when none does, and what
// kept it from being opened when that can be told.
void NameDeviceOnFailure(ConsoleSurroundings& s, const PortArgument& port, int code) {
    if (code != cli::kExitPortNotOpened) {
        return;
    }
    const bool path = port.kind == PortArgument::Kind::kDevicePath;
    if (path && port.comNumber == 0) {
        s.output.Alert("(the port above is " + port.devicePath + ")");
    }
    const std::string why =
        s.whyNotOpened
            ? s.whyNotOpened(path ? port.devicePath : "COM" + std::to_string(port.comNumber))
            : std::string();
    if (!why.empty()) {
        s.output.Alert(why);
    }
}

int IndexFor(const PortArgument& port) {
    return port.comNumber > 0 ? port.comNumber - 1 : 0;
}

// TEST through view; returns its exit code and leaves nPortIndex as the dialog would.
int RunTest(ConsoleSurroundings& s, CheckedIo& io, ConsoleView& view, int& nPortIndex,
            int& nScannerVersion) {
    exchange::ExchangeIo exchangeIo{view, io.Opener(), io.Clock()};
    exchange::RunVersionCheck(exchangeIo, s.firmware, nPortIndex, nScannerVersion);
    return cli::ExitCodeAfterTest(view.Outcome(), view.IsEnabled(IDC_UPDATE));
}

int RunUpload(ConsoleSurroundings& s, CheckedIo& io, ConsoleView& view, int nPortIndex) {
    view.ClearOutcome();
    s.interrupts.Check();  // a press before the upload began ends at once
    s.interrupts.SetUploadNotice([&s] { s.output.Alert(kUploadUnderWayNotice); });
    {
        const KeepAwakeScope keepAwake(s.keepAwake);
        const ConsoleInterrupts::UploadScope upload(s.interrupts);
        exchange::ExchangeIo exchangeIo{view, io.Opener(), io.Clock()};
        exchange::RunFirmwareUpload(exchangeIo, s.firmware, nPortIndex);
    }
    if (s.interrupts.Ended()) {
        s.output.Alert(kUploadAbandonedNotice);  // the port has been closed by now
        return cli::kExitInterrupted;
    }
    return cli::ExitCodeAfterUpdate(view.Outcome());
}

// TEST on the port the argument names and, with upload, UPDATE after a TEST that offered it;
// only an upload asks the dialog's questions.
int RunExchangesOnPort(ConsoleSurroundings& s, const PortArgument& port, bool upload) {
    const auto resolved = Resolve(s, port);
    if (!resolved) {
        return cli::kExitPortNotOpened;
    }
    CheckedIo io(s, &*resolved);
    int nPortIndex = -1;
    int nScannerVersion = -1;
    ConsoleView view(s.output, s.questions, s.clock, IndexFor(*resolved), &nScannerVersion,
                     /*askQuestions=*/upload);
    int code = RunTest(s, io, view, nPortIndex, nScannerVersion);
    if (upload && code == cli::kExitDone) {
        code = RunUpload(s, io, view, nPortIndex);
    }
    NameDeviceOnFailure(s, *resolved, code);
    return code;
}

}  // namespace

int RunInfoCommand(ConsoleSurroundings& s) {
    const FirmwarePayload& firmware = s.firmware;
    const int length = static_cast<int>(firmware.imageLength);
    s.output.Line("Firmware version: " + VersionText(firmware.VersionByte()));
    s.output.Line("Length: " + std::to_string(length) + " bytes");
    s.output.Line("Packets: " + std::to_string((length + kBytesPerPacket - 1) / kBytesPerPacket) +
                  " (" + std::to_string(kBytesPerPacket) + " image bytes each)");
    s.output.Line("SHA-256: " + Sha256Hex(firmware.Image()));
    return cli::kExitDone;
}

int RunPortsCommand(ConsoleSurroundings& s, bool all) {
    int listed = 0;
    for (const auto& info : s.describePorts()) {
        if (all || info.present) {
            s.output.Line(info.description);
            ++listed;
        }
    }
    if (listed == 0) {
        s.output.Note("No COM port is present (ports --all lists all " +
                      std::to_string(comports::kComPortCount) + ").");
    }
    return cli::kExitDone;
}

int RunFindCommand(ConsoleSurroundings& s) {
    try {
        const auto found = Find(s);
        for (const auto& info : found) {
            s.output.Line(info.description);
        }
        if (found.empty()) {
            s.output.Note("No port where the scanner answers.");
            return cli::kExitNoAnswer;
        }
        return cli::kExitDone;
    } catch (const ConsoleInterrupted&) {
        return cli::kExitInterrupted;
    }
}

int RunTestCommand(ConsoleSurroundings& s, const PortArgument& port) {
    try {
        return RunExchangesOnPort(s, port, /*upload=*/false);
    } catch (const ConsoleInterrupted&) {
        return cli::kExitInterrupted;
    }
}

int RunUpdateCommand(ConsoleSurroundings& s, const PortArgument& port) {
    try {
        if (s.questions.Ask(dialog_template::kStartupWarning) != IDYES) {
            return cli::kExitAnsweredNo;
        }
        return RunExchangesOnPort(s, port, /*upload=*/true);
    } catch (const ConsoleInterrupted&) {
        return cli::kExitInterrupted;
    }
}
