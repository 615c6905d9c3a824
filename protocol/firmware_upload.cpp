#include "firmware_upload.h"

#include <algorithm>
#include <stdexcept>

#include "exchange_guard.h"
#include "exchange_support.h"
#include "link_frame.h"

namespace exchange {

namespace {

using detail::TimeWindow;

constexpr std::size_t kStartPacketPiece = 120;  // bytes per write of the start packet
constexpr std::uint32_t kStartPacketPauseMs = 200;
constexpr std::size_t kDataPacketPiece = 300;  // bytes per write of a data packet
constexpr std::uint32_t kGoAheadWindowMs = 1000;
constexpr std::uint32_t kAnswerWindowMs = 2000;
constexpr int kSendsPerPacket = 3;
constexpr std::uint32_t kVerdictWindowMs = 2000;

constexpr const char* kOpenFailedText =
    "Unable to open the port COM%d. Make sure that it's actually\nexists and is not being used "
    "by any other program (e.g. a\nPDA program like Palm's HotSync).";
constexpr const char* kNoDataText = "No data from the scanner. Please retry from step 4";
constexpr const char* kWriteFailedText =
    "Unable to send data to the scanner. Please retry from step 4";
constexpr const char* kNotApprovingText = "Scanner not approving the upgrade packets";
constexpr const char* kNoAnswerText = "Timed out waiting for response from scanner";
constexpr const char* kRejectedText = "Scanner rejected the upgrade!";
constexpr const char* kVerdictTimeoutText = "Scanner response timeout!";
constexpr const char* kUnknownVerdictText = "Scanner unknown response!";

// Thrown once a failure's message has been shown; the clean-up catches everything.
struct UploadFailed {
    UploadOutcome outcome;
};

// One press of UPDATE once the port is open: steps from the ready wait to the verdict.
class Upload {
public:
    Upload(ExchangeIo& io, IPort& port, const FirmwarePayload& firmware,
           std::unique_ptr<IProgressWindow>& progress, UploadResult& result)
        : m_io(io), m_port(port), m_firmware(firmware), m_progress(progress), m_result(result) {}

    // Runs the exchange; throws UploadFailed after a failure's message.
    void Run() {
        AwaitReadyByte();
        SendStartPacket();
        AwaitGoAhead();
        SendImage();
        ShowVerdict(AwaitVerdict());
    }

private:
    [[noreturn]] void Fail(const char* text, UploadOutcome outcome) {
        detail::Show(m_io.front, m_result, text, MessageKind::kFailure);
        throw UploadFailed{outcome};
    }

    // Other bytes than 'C' are dropped and do not restart the window; no pause between polls.
    void AwaitReadyByte() {
        m_io.clock.Sleep(detail::kPortSettleMs);
        const TimeWindow window(m_io.clock, detail::kReadyWindowMs);
        std::uint8_t received = scanlink::NOTHING;
        while (received != scanlink::READY) {
            if (detail::WaitIsOver(window, m_port)) {
                Fail(kNoDataText, UploadOutcome::kNoReadyByte);
            }
            detail::ReadWaitingByte(m_port, received);
        }
    }

    // Writes count bytes in pieces of at most piece bytes, pausing pauseMs after each write
    // (none when pauseMs is 0). A write that makes no progress ends the upload: without it a
    // pulled cable would keep this loop going for ever.
    void WriteAll(const std::uint8_t* bytes, std::size_t count, std::size_t piece,
                  std::uint32_t pauseMs) {
        std::size_t sent = 0;
        while (sent < count) {
            const int want = static_cast<int>(std::min(count - sent, piece));
            const int written = m_port.Write(bytes + sent, want, detail::kPacketWriteLimitMs);
            if (written <= 0) {
                Fail(kWriteFailedText, UploadOutcome::kWriteFailed);
            }
            if (pauseMs > 0) {
                m_io.clock.Sleep(pauseMs);
            }
            sent += static_cast<std::size_t>(std::min(written, want));
        }
    }

    void SendStartPacket() {
        if (m_firmware.imageLength > FirmwarePayload::kImageCapacity) {
            // Never read past the image field; the build already refuses such a record.
            throw std::length_error("image length beyond the image field");
        }
        scanlink::LinkFrame start;
        scanlink::BuildStartPacket(start, m_firmware.imageLength);
        WriteAll(start.data(), start.size, kStartPacketPiece, kStartPacketPauseMs);
    }

    // DLE restarts the window; any other byte but ENQ is dropped without restarting it.
    void AwaitGoAhead() {
        TimeWindow window(m_io.clock, kGoAheadWindowMs);
        for (;;) {
            if (detail::WaitIsOver(window, m_port)) {
                Fail(kNoDataText, UploadOutcome::kNoGoAhead);
            }
            std::uint8_t received = scanlink::NOTHING;
            if (detail::ReadWaitingByte(m_port, received)) {
                if (received == scanlink::ENQ) {
                    return;
                }
                if (received == scanlink::DLE) {
                    window.Restart();
                }
            }
        }
    }

    void SendImage() {
        m_progress = m_io.front.CreateProgressWindow();
        if (m_progress) {  // without a window the upload runs all the same
            m_progress->SetRange32(0, static_cast<int>(m_firmware.imageLength));
            m_progress->SetCaption("Upgrading CPU");
        }
        const std::uint8_t* image = m_firmware.image;
        std::size_t remaining = m_firmware.imageLength;
        std::size_t offset = 0;
        scanlink::LinkFrame packet;
        while (remaining != 0) {
            const std::size_t count = std::min(remaining, scanlink::kMaxDataBytes);
            remaining -= count;
            scanlink::BuildDataPacket(packet, image + offset, count);
            offset += count;
            SendDataPacket(packet);
            m_result.imageBytesAccepted = static_cast<int>(offset);
            if (m_progress) {
                m_progress->SetPos(static_cast<int>(offset));
            }
        }
    }

    // Sends one packet until ACK; NAK sends the same bytes again, three sends in all.
    void SendDataPacket(const scanlink::LinkFrame& packet) {
        for (int sendsLeft = kSendsPerPacket;;) {
            m_result.resends += sendsLeft < kSendsPerPacket ? 1 : 0;
            ++m_result.packetsSent;
            WriteAll(packet.data(), packet.size, kDataPacketPiece, 0);
            m_io.clock.Sleep(0);
            const std::uint8_t answer = AwaitAnswer();
            if (answer == scanlink::ACK) {
                return;
            }
            if (answer != scanlink::NAK) {
                Fail(kNoAnswerText, UploadOutcome::kNoAnswer);  // silence, DLE or any other byte
            }
            if (--sendsLeft == 0) {
                Fail(kNotApprovingText, UploadOutcome::kNotApproved);
            }
        }
    }

    // The first byte but 0x00 within the answer window; 0 when nothing came.
    std::uint8_t AwaitAnswer() {
        const TimeWindow window(m_io.clock, kAnswerWindowMs);
        std::uint8_t received = scanlink::NOTHING;
        while (received == scanlink::NOTHING && !detail::WaitIsOver(window, m_port)) {
            YieldUnlessWaiting(received);
        }
        return received;
    }

    // Reads one byte when input is waiting, otherwise yields the processor; returns whether
    // input was waiting.
    bool YieldUnlessWaiting(std::uint8_t& received) {
        if (m_port.BytesWaiting() > 0) {
            std::uint8_t byte = 0;
            if (m_port.Read(&byte, 1, detail::kReadLimitMs) == 1) {
                received = byte;
            }
            return true;
        }
        m_io.clock.Sleep(0);
        return false;
    }

    // The verdict byte; each DLE restarts the window; 0 when nothing came in time.
    std::uint8_t AwaitVerdict() {
        if (m_progress) {
            m_progress->SetPos(0);
            m_progress->SetCaption("Waiting for CPU approval");
        }
        TimeWindow window(m_io.clock, kVerdictWindowMs);
        std::uint8_t received = scanlink::NOTHING;
        while (received == scanlink::NOTHING && !detail::WaitIsOver(window, m_port)) {
            if (YieldUnlessWaiting(received) && received == scanlink::DLE) {
                received = scanlink::NOTHING;
                window.Restart();
            }
        }
        return received;
    }

    // The progress window goes before the verdict is shown.
    void ShowVerdict(std::uint8_t verdict) {
        m_progress.reset();
        switch (verdict) {
            case scanlink::EOT:
                m_io.front.UploadAccepted();
                return;
            case scanlink::CAN:
                Fail(kRejectedText, UploadOutcome::kRejected);
            case scanlink::NOTHING:
                Fail(kVerdictTimeoutText, UploadOutcome::kVerdictTimeout);
            default:
                Fail(kUnknownVerdictText, UploadOutcome::kUnknownVerdict);
        }
    }

    ExchangeIo& m_io;
    IPort& m_port;
    const FirmwarePayload& m_firmware;
    std::unique_ptr<IProgressWindow>& m_progress;
    UploadResult& m_result;
};

}  // namespace

UploadResult RunFirmwareUpload(ExchangeIo& io, const FirmwarePayload& firmware) {
    UploadResult result;
    const ExchangeGuard guard;
    if (!guard.Claimed()) {
        return result;  // busy: this press changes nothing
    }
    std::unique_ptr<IPort> opened = detail::OpenChosenPort(io, result, kOpenFailedText);
    if (!opened) {
        result.outcome = UploadOutcome::kPortNotOpened;  // no clean-up: UPDATE may come again
        return result;
    }
    detail::CountedPort port(*opened, result);
    std::unique_ptr<IProgressWindow> progress;
    result.outcome = UploadOutcome::kAccepted;
    try {
        Upload(io, port, firmware, progress, result).Run();
    } catch (const UploadFailed& failed) {
        result.outcome = failed.outcome;  // its message has been shown already
    } catch (...) {
        result.outcome = UploadOutcome::kAbandoned;  // anything else ends here silently
    }
    io.front.UploadEnding();
    progress.reset();  // after a transfer failure the window stayed up during its message
    opened.reset();
    return result;
}

}  // namespace exchange
