#include "version_check.h"

#include "exchange_guard.h"
#include "exchange_support.h"
#include "link_frame.h"
#include "resource.h"

namespace exchange {

namespace {

using detail::Format;
using detail::TimeWindow;

constexpr unsigned kFailureStyle = MB_OK | MB_ICONEXCLAMATION;   // 48
constexpr unsigned kOutcomeStyle = MB_OK | MB_ICONINFORMATION;   // 64
constexpr unsigned kQuestionStyle = MB_YESNO | MB_ICONQUESTION;  // 36

constexpr std::uint32_t kQueryPauseMs = 500;   // after the first query
constexpr std::uint32_t kResendAfterMs = 500;  // resend when the last send is more than this ago
constexpr std::uint32_t kReplyWindowMs = 2000;
constexpr int kAckWriteLimitMs = 1000;
constexpr int kNoApplicationCode = 255;

constexpr const char* kOpenFailedText =
    "Unable to open the port COM%d. Make sure that it actually\nexists and is not being used by "
    "any other program (e.g. a\nPDA program like Palm's HotSync).\n\nPlease retry from Step 2.";
constexpr const char* kNoReadyText = "No data from the scanner. Please retry from step 1";
constexpr const char* kNoReplyText =
    "Unable to communicate with the scanner.\n\nPlease retry from Step 1.";

// Waits out the ready window for 'C'; other bytes are dropped and do not restart it.
bool AwaitReadyByte(IPort& port, IClock& clock) {
    clock.Sleep(detail::kPortSettleMs);
    TimeWindow window(clock, detail::kReadyWindowMs);
    std::uint8_t received = scanlink::NOTHING;
    while (received != scanlink::READY) {
        if (detail::WaitIsOver(window, port)) {
            return false;
        }
        detail::ReadWaitingByte(port, received);
    }
    return true;
}

void WriteQuery(IPort& port) {
    port.Write(scanlink::kQueryPacket.data(), static_cast<int>(scanlink::kQueryPacket.size()),
               detail::kPacketWriteLimitMs);
}

// The value of one hexadecimal digit in either letter case; -1 for any other character.
int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The version from its two digits, as "%02X" reads a hexadecimal number of at most two digits:
// D1 alone when D2 is no digit, 0 when D1 is none. Only digits count: sscanf itself would also
// skip a blank and take a sign before them, reading " a" as 10 and "-1" as a negative version.
int ReadVersionDigits(char d1, char d2) {
    const int high = HexDigitValue(d1);
    if (high < 0) {
        return 0;
    }
    const int low = HexDigitValue(d2);
    return low < 0 ? high : high * 16 + low;
}

// Queries until a valid reply arrives within the reply window; answers it with ACK.
// Returns whether a reply was seen; its version goes to nScannerVersion.
bool QueryVersion(IPort& port, IClock& clock, int& nScannerVersion) {
    WriteQuery(port);
    std::uint32_t lastSend = clock.GetTickCount();
    clock.Sleep(kQueryPauseMs);  // an early reply waits in the input queue meanwhile

    scanlink::VersionReplyMatcher reply;
    reply.Clear();
    const TimeWindow window(clock, kReplyWindowMs);
    while (!detail::WaitIsOver(window, port)) {
        if (clock.GetTickCount() - lastSend > kResendAfterMs) {
            WriteQuery(port);
            lastSend = clock.GetTickCount();
        }
        std::uint8_t received = scanlink::NOTHING;
        if (detail::ReadWaitingByte(port, received) && reply.Push(received)) {
            nScannerVersion = ReadVersionDigits(reply.D1(), reply.D2());
            port.Write(&scanlink::ACK, 1, kAckWriteLimitMs);  // a reply stands even unacknowledged
            return true;
        }
    }
    return false;
}

// Shows the outcome for the reported version and returns whether the upload is offered.
bool ShowOutcome(IUpdaterView& view, std::uint8_t carried, int scannerVersion) {
    const std::string version = VersionText(carried);
    const bool noCode = scannerVersion == kNoApplicationCode;
    view.SetControlText(
        IDC_VERSION,
        (noCode ? "SCANNER VERSION: -none-\nUPDATER VERSION: " : "\nUPDATER VERSION: ") + version);
    std::string text = (noCode ? "The scanner currently contains no CPU application code!\n\n"
                                 "This update utility contains version "
                               : "This update utility contains version ") +
                       version + ".";
    if (noCode || scannerVersion < carried) {
        view.ShowMessageBox(text, kOutcomeStyle);
        return true;
    }
    // The one place the version is written without the notation's trailing 0.
    text += Format(
        "\n\nThis updater contains a version that is %s what your scanner\nalready "
        "contains.\n\nDo you really want to upload version %d.%d ?",
        scannerVersion > carried ? "older than" : "the same as", (carried >> 4) & 7, carried & 15);
    return view.ShowMessageBox(text, kQuestionStyle) == IDYES;
}

// Offering the upload enables UPDATE alone, so the port cannot change before it.
void OfferUpload(IUpdaterView& view, bool offered) {
    view.EnableControl(IDC_TEST, !offered);
    view.EnableControl(IDC_UPDATE, offered);
    view.EnableControl(IDC_COMPORT, !offered);
}

}  // namespace

VersionCheckResult RunVersionCheck(ExchangeIo& io, const FirmwarePayload& firmware, int& nPortIndex,
                                   int& nScannerVersion) {
    const ExchangeGuard guard;
    if (!guard.Claimed()) {
        return {VersionCheckOutcome::kBusy, {}};  // this press changes nothing
    }
    nPortIndex = io.view.GetPortSelection();
    std::unique_ptr<IPort> port = detail::OpenScannerPort(io.opener, detail::PortName(nPortIndex));
    if (!port) {
        io.view.ShowMessageBox(Format(kOpenFailedText, nPortIndex + 1), kFailureStyle);
        return {VersionCheckOutcome::kPortNotOpened, {}};
    }
    if (!AwaitReadyByte(*port, io.clock)) {
        io.view.ShowMessageBox(kNoReadyText, kFailureStyle);  // shown while the port is still open
        return {VersionCheckOutcome::kNoReadyByte, {}};
    }
    nScannerVersion = 0;
    port->DrainInput();  // further ready bytes and early noise never reach the reply window
    const bool replySeen = QueryVersion(*port, io.clock, nScannerVersion);
    port.reset();
    if (!replySeen) {
        io.view.ShowMessageBox(kNoReplyText, kFailureStyle);
        return {VersionCheckOutcome::kNoReply, {}};
    }
    if (nScannerVersion == 0) {
        nScannerVersion = 1;
    }
    const int scannerVersion = nScannerVersion;
    const bool offered = ShowOutcome(io.view, firmware.VersionByte(), scannerVersion);
    OfferUpload(io.view, offered);
    return {offered ? VersionCheckOutcome::kUploadOffered : VersionCheckOutcome::kUploadNotOffered,
            scannerVersion};
}

}  // namespace exchange
