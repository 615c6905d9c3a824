#include "version_check.h"

#include "exchange_guard.h"
#include "exchange_support.h"
#include "link_frame.h"

namespace exchange {

namespace {

using detail::Format;
using detail::TimeWindow;

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

// Each query written counts as a packet sent; every one after the first as a resend.
void WriteQuery(IPort& port, ExchangeRecord& record) {
    port.Write(scanlink::kQueryPacket.data(), static_cast<int>(scanlink::kQueryPacket.size()),
               detail::kPacketWriteLimitMs);
    record.resends += record.packetsSent > 0 ? 1 : 0;
    ++record.packetsSent;
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
// Returns the reply's version; none when no reply was seen.
std::optional<int> QueryVersion(IPort& port, IClock& clock, ExchangeRecord& record) {
    WriteQuery(port, record);
    std::uint32_t lastSend = clock.GetTickCount();
    clock.Sleep(kQueryPauseMs);  // an early reply waits in the input queue meanwhile

    scanlink::VersionReplyMatcher reply;
    reply.Clear();
    const TimeWindow window(clock, kReplyWindowMs);
    while (!detail::WaitIsOver(window, port)) {
        if (clock.GetTickCount() - lastSend > kResendAfterMs) {
            WriteQuery(port, record);
            lastSend = clock.GetTickCount();
        }
        std::uint8_t received = scanlink::NOTHING;
        if (detail::ReadWaitingByte(port, received) && reply.Push(received)) {
            ++record.packetsReceived;
            port.Write(&scanlink::ACK, 1, kAckWriteLimitMs);  // a reply stands even unacknowledged
            return ReadVersionDigits(reply.D1(), reply.D2());
        }
    }
    return std::nullopt;
}

// Shows the outcome for the reported version and returns whether the upload is offered.
bool ShowOutcome(IFrontEnd& front, VersionCheckResult& result, std::uint8_t carried,
                 int scannerVersion) {
    const std::string version = VersionText(carried);
    const bool noCode = scannerVersion == kNoApplicationCode;
    front.ScannerReplied(scannerVersion);
    std::string text = (noCode ? "The scanner currently contains no CPU application code!\n\n"
                                 "This update utility contains version "
                               : "This update utility contains version ") +
                       version + ".";
    if (noCode || scannerVersion < carried) {
        detail::Show(front, result, text, MessageKind::kOutcome);
        return true;
    }
    // The one place the version is written without the notation's trailing 0.
    text += Format(
        "\n\nThis updater contains a version that is %s what your scanner\nalready "
        "contains.\n\nDo you really want to upload version %d.%d ?",
        scannerVersion > carried ? "older than" : "the same as", (carried >> 4) & 7, carried & 15);
    result.questionAsked = true;
    return detail::Ask(front, result, text);
}

}  // namespace

VersionCheckResult RunVersionCheck(ExchangeIo& io, const FirmwarePayload& firmware) {
    VersionCheckResult result;
    const ExchangeGuard guard;
    if (!guard.Claimed()) {
        return result;  // busy: this press changes nothing
    }
    std::unique_ptr<IPort> opened = detail::OpenChosenPort(io, result, kOpenFailedText);
    if (!opened) {
        result.outcome = VersionCheckOutcome::kPortNotOpened;
        return result;
    }
    detail::CountedPort port(*opened, result);
    if (!AwaitReadyByte(port, io.clock)) {
        // Shown while the port is still open.
        detail::Show(io.front, result, kNoReadyText, MessageKind::kFailure);
        result.outcome = VersionCheckOutcome::kNoReadyByte;
        return result;
    }
    port.DrainInput();  // further ready bytes and early noise never reach the reply window
    const std::optional<int> version = QueryVersion(port, io.clock, result);
    opened.reset();
    if (!version) {
        detail::Show(io.front, result, kNoReplyText, MessageKind::kFailure);
        result.outcome = VersionCheckOutcome::kNoReply;
        return result;
    }
    result.scannerVersion = *version == 0 ? 1 : *version;
    const bool offered =
        ShowOutcome(io.front, result, firmware.VersionByte(), *result.scannerVersion);
    result.outcome =
        offered ? VersionCheckOutcome::kUploadOffered : VersionCheckOutcome::kUploadNotOffered;
    return result;
}

}  // namespace exchange
