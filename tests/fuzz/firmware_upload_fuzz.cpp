// Fuzz target: UPDATE, driven by what the scanner sends after each thing the utility sends.
//
// Input: four set-up bytes, then one answer for each prompt: the port's opening, then every
// whole packet the utility writes. An answer is a count byte (its low three bits: 0 to 7
// arrivals) and two bytes per arrival: the gap since the prompt or the previous arrival
// (GapMs) and the byte. Once the input is used up the scanner behaves: 'C' 150 ms after the
// opening, ENQ after the start packet, ACK after each data packet, EOT after the last.
//
// Set-up byte 0, bits 0-1: how the port opens (0 and 1: it opens; 2: it throws 1; 3: it yields
// nothing); bit 2: the tick count wraps during the run; bits 3-4: the progress window (2: none
// is made; 3: making it throws); bits 5-7: a write fault on the write numbered by byte 2 (4: it
// claims 1000 bytes; 5: it takes 5 bytes; 6: it takes none; 7: it and every later write time
// out). Byte 1: the image length, n * 5 + (n & 3) bytes of the carried image for n below 255,
// the whole carried image for 255. Byte 3: the port index.
//
// Each run is checked against a model of the rules that walks what the utility read and wrote:
// nothing written before 'C'; the start packet, then data packets only after ENQ; each data
// packet the next slice of the image, decoded here from its hex, sent again only after NAK and
// at most three times, the next slice only after ACK; every wait ending within its window,
// restarted by DLE where the rules say so, and no earlier; the port closed at once after the
// byte or the failed write that decided the outcome; the outcome, its one message box with its
// exact text or the completion text (only after EOT following the last ACK), the progress bar's
// positions, the progress window gone, the wait cursor ended, the port closed and the controls
// reset.
#include <algorithm>
#include <cstdint>
#include <string>

#include "exchange_fakes.h"
#include "firmware_payload.h"
#include "firmware_upload.h"
#include "fuzz_support.h"

namespace {

using fuzz::Bytes;
using fuzz::PortEvent;

// Each poll of the port moves virtual time on by this much: a 2000 ms window is 500 polls at
// most, which keeps a run of a few packets well under a millisecond.
constexpr std::uint32_t kPollStepMs = 4;
constexpr std::uint64_t kLateMs = 3 * kPollStepMs;  // how late a poll may notice a deadline
constexpr std::uint64_t kSettleMs = 100;            // pause after the port opens
constexpr std::uint64_t kReadyMs = 2000;
constexpr std::uint64_t kStartPauseMs = 200;  // after each write of the start packet
constexpr std::uint64_t kGoAheadMs = 1000;
constexpr std::uint64_t kAnswerMs = 2000;
constexpr std::uint64_t kVerdictMs = 2000;
constexpr int kMaxSends = 3;
constexpr std::size_t kSliceBytes = 120;  // image bytes per data packet

constexpr std::uint8_t kStx = 0x02, kEtx = 0x03, kEot = 0x04, kEnq = 0x05, kAck = 0x06,
                       kDle = 0x10, kNak = 0x15, kCan = 0x18, kReady = 'C';
constexpr int kComList = 1000, kTestButton = 1002, kUpdateButton = 1003, kCompletion = 1004;
constexpr unsigned kFailureStyle = 48;

enum class ProgressMode { kMade, kNone, kThrows };
enum class WriteFault { kNone, kClaimsMore, kTakesPart, kTakesNone, kTimesOut };

struct Setup {
    fuzz::OpenMode openMode;
    std::uint32_t startTick;
    ProgressMode progress;
    WriteFault fault;
    std::size_t faultWrite;
    std::uint32_t imageLength;
    int portIndex;
};

Setup ReadSetup(fuzz::InputReader& input) {
    const std::uint8_t bits = input.Byte();
    const std::uint8_t length = input.Byte(5);
    const std::uint8_t faultWrite = input.Byte();
    const std::uint8_t portIndex = input.Byte();
    static constexpr fuzz::OpenMode kModes[] = {fuzz::OpenMode::kOpens, fuzz::OpenMode::kOpens,
                                                fuzz::OpenMode::kThrowsInt,
                                                fuzz::OpenMode::kYieldsNothing};
    static constexpr ProgressMode kProgress[] = {ProgressMode::kMade, ProgressMode::kMade,
                                                 ProgressMode::kNone, ProgressMode::kThrows};
    static constexpr WriteFault kFaults[] = {
        WriteFault::kNone,       WriteFault::kNone,      WriteFault::kNone,
        WriteFault::kNone,       WriteFault::kClaimsMore, WriteFault::kTakesPart,
        WriteFault::kTakesNone, WriteFault::kTimesOut};
    const std::uint32_t carried = g_carriedFirmware.imageLength;
    const std::uint32_t wanted = length == 255 ? carried : length * 5u + (length & 3u);
    return {kModes[bits & 3],
            (bits & 4) != 0 ? 0xFFFFFFFFu - 3000 : 1000u,
            kProgress[(bits >> 3) & 3],
            kFaults[bits >> 5],
            faultWrite,
            std::min(wanted, carried),
            portIndex};
}

// The frame of the rules: STX, the payload, ETX, (sum of payload and ETX) mod 256.
Bytes Frame(const Bytes& payload) {
    Bytes frame{kStx};
    frame.insert(frame.end(), payload.begin(), payload.end());
    std::uint8_t sum = kEtx;
    for (const std::uint8_t b : payload) sum = static_cast<std::uint8_t>(sum + b);
    frame.push_back(kEtx);
    frame.push_back(sum);
    return frame;
}

Bytes HexDigits(const std::uint8_t* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    Bytes digits;
    for (std::size_t i = 0; i < count; ++i) {
        digits.push_back(static_cast<std::uint8_t>(kDigits[bytes[i] >> 4]));
        digits.push_back(static_cast<std::uint8_t>(kDigits[bytes[i] & 15]));
    }
    return digits;
}

Bytes StartPacket(std::uint32_t length) {
    const std::uint8_t be[3] = {static_cast<std::uint8_t>(length >> 16),
                                static_cast<std::uint8_t>(length >> 8),
                                static_cast<std::uint8_t>(length)};
    Bytes payload{0xFA};
    const Bytes digits = HexDigits(be, 3);
    payload.insert(payload.end(), digits.begin(), digits.end());
    return Frame(payload);
}

// The scanner: answers the opening and each whole packet written with the next answer of the
// input, or as a well-behaved scanner once the input is used up.
class Scanner {
public:
    Scanner(fuzz::InputReader& input, fakes::ScriptedPort& port, std::uint32_t imageLength)
        : m_input(input), m_port(port), m_imageLength(imageLength) {
        m_port.onWrite = [this](const fakes::WriteRecord& write) { OnWrite(write); };
    }

    // Schedules the answer to the port's opening.
    void Begin() { Answer({{150, kReady}}); }

private:
    using Arrivals = std::vector<std::pair<std::uint64_t, std::uint8_t>>;

    void OnWrite(const fakes::WriteRecord& write) {
        const auto taken = static_cast<std::size_t>(
            std::clamp<int>(write.result, 0, static_cast<int>(write.bytes.size())));
        m_pending.insert(m_pending.end(), write.bytes.begin(), write.bytes.begin() + taken);
        for (;;) {
            const auto stx = std::find(m_pending.begin(), m_pending.end(), kStx);
            m_pending.erase(m_pending.begin(), stx);
            const auto etx = std::find(m_pending.begin(), m_pending.end(), kEtx);
            if (etx == m_pending.end() || etx + 1 == m_pending.end()) {
                return;
            }
            const std::size_t frameSize = static_cast<std::size_t>(etx - m_pending.begin()) + 2;
            OnFrame(frameSize);
            m_pending.erase(m_pending.begin(), m_pending.begin() + frameSize);
        }
    }

    void OnFrame(std::size_t frameSize) {
        if (m_pending.size() > 1 && m_pending[1] == 0xFA) {
            Arrivals good{{1, kEnq}};
            if (m_imageLength == 0) good.push_back({1, kEot});
            Answer(good);
            return;
        }
        const std::size_t bytes = (frameSize - 3) / 2;
        Arrivals good{{1, kAck}};
        if (m_accepted + bytes >= m_imageLength) good.push_back({1, kEot});
        if (Answer(good) == kAck) {
            m_accepted += bytes;
        }
    }

    // Schedules the next answer of the input, or good; returns its first byte but 0.
    std::uint8_t Answer(const Arrivals& good) {
        Arrivals arrivals = good;
        if (m_input.Left() > 0) {
            arrivals.clear();
            const int count = m_input.Byte() & 7;
            for (int i = 0; i < count && m_input.Left() >= 2; ++i) {
                const std::uint64_t gap = fuzz::GapMs(m_input.Byte());
                arrivals.push_back({gap, m_input.Byte()});
            }
        }
        std::uint64_t delay = 0;
        std::uint8_t first = 0;
        for (const auto& [gap, byte] : arrivals) {
            delay += gap;
            m_port.ArriveAfter(delay, {byte});
            first = first == 0 ? byte : first;
        }
        return first;
    }

    fuzz::InputReader& m_input;
    fakes::ScriptedPort& m_port;
    std::uint32_t m_imageLength;
    Bytes m_pending;              // bytes written and taken, not yet a whole frame
    std::size_t m_accepted = 0;  // image bytes of the packets it answered ACK first
};

// How the upload ends, by the rules.
enum class Outcome {
    kNone,  // still running when the port closed: no rule ends it there
    kNoReady,
    kNoGoAhead,
    kWriteFailed,
    kNotApproving,
    kNoAnswer,
    kComplete,
    kRejected,
    kVerdictTimeout,
    kUnknownVerdict,
    kSilentCleanUp,  // making the progress window threw
};

// The model of the rules, walked over the port calls of one run.
class Model {
public:
    Model(const Setup& setup, const FirmwarePayload& firmware)
        : m_setup(setup), m_firmware(firmware) {}

    // Walks every call in order, failing at the first one the rules do not allow.
    void Walk(const std::vector<PortEvent>& events) {
        m_deadline = kSettleMs + kReadyMs + kLateMs;
        for (const PortEvent& e : events) {
            if (e.kind == PortEvent::Kind::kClose) {
                OnClose(e.at);
                return;
            }
            fuzz::Check(m_outcome == Outcome::kNone, "the port was used after the upload ended");
            fuzz::Check(e.kind != PortEvent::Kind::kDrain, "the input was drained");
            // A packet goes out at once after what called for it; only the start packet's
            // pieces pause between them.
            fuzz::Check(e.kind != PortEvent::Kind::kWrite || e.at <= m_lastAt + kStartPauseMs,
                        "a packet went out late");
            m_lastAt = e.at;
            if (e.kind == PortEvent::Kind::kWrite) {
                OnWrite(e);
            } else if (e.result == 1) {
                fuzz::Check(e.at <= m_deadline, "a wait ran past its window");
                OnRead(e.bytes.front(), e.at);
            }
        }
        fuzz::Fail("the port was not closed");
    }

    Outcome outcome() const { return m_outcome; }
    // The bar's positions the rules call for: after each accepted packet, then 0.
    const std::vector<int>& positions() const { return m_positions; }

private:
    enum class Phase { kReady, kStart, kGoAhead, kSend, kAnswer, kVerdict };

    void OnWrite(const PortEvent& e) {
        fuzz::Check(m_phase == Phase::kStart || m_phase == Phase::kSend,
                    "wrote while it should have waited");
        if (e.result <= 0) {
            Decide(Outcome::kWriteFailed, e.end);
            return;
        }
        const std::size_t taken = std::min(static_cast<std::size_t>(e.result), e.bytes.size());
        m_frame.insert(m_frame.end(), e.bytes.begin(), e.bytes.begin() + taken);
        const Bytes expected = m_phase == Phase::kStart ? StartPacket(m_firmware.imageLength)
                                                        : SliceFrame();
        fuzz::Check(m_frame.size() <= expected.size() &&
                        std::equal(m_frame.begin(), m_frame.end(), expected.begin()),
                    m_phase == Phase::kStart ? "the start packet is wrong"
                                             : "a data packet is not the image's next slice");
        if (m_frame.size() < expected.size()) {
            return;
        }
        m_frame.clear();
        if (m_phase == Phase::kStart) {
            m_phase = Phase::kGoAhead;
            m_deadline = e.at + kStartPauseMs + kGoAheadMs + kLateMs;
            m_windowStart = e.at + kStartPauseMs;
            return;
        }
        fuzz::Check(++m_sends <= kMaxSends, "a data packet was sent a fourth time");
        m_phase = Phase::kAnswer;
        m_windowStart = e.at;
        m_deadline = e.at + kAnswerMs + kLateMs;
    }

    void OnRead(std::uint8_t b, std::uint64_t at) {
        switch (m_phase) {
            case Phase::kReady:
                if (b == kReady) {
                    m_phase = Phase::kStart;
                }
                return;
            case Phase::kStart:
            case Phase::kSend:
                fuzz::Fail("read in the middle of sending a packet");
            case Phase::kGoAhead:
                if (b == kEnq) {
                    m_phase = Phase::kSend;
                    if (m_setup.progress == ProgressMode::kThrows) {
                        Decide(Outcome::kSilentCleanUp, at);  // the window comes first
                    } else if (m_firmware.imageLength == 0) {
                        StartVerdictWait(at);
                    }
                } else if (b == kDle) {
                    m_windowStart = at;
                    m_deadline = at + kGoAheadMs + kLateMs;
                }
                return;
            case Phase::kAnswer:
                OnAnswer(b, at);
                return;
            case Phase::kVerdict:
                OnVerdict(b, at);
                return;
        }
    }

    void OnAnswer(std::uint8_t b, std::uint64_t at) {
        if (b == 0) {
            return;  // nothing received: the wait goes on
        }
        if (b == kAck) {
            m_offset += SliceSize();
            m_sends = 0;
            m_positions.push_back(static_cast<int>(m_offset));
            m_phase = Phase::kSend;
            if (m_offset == m_firmware.imageLength) {
                StartVerdictWait(at);
            }
        } else if (b == kNak) {
            m_phase = Phase::kSend;
            if (m_sends == kMaxSends) {
                Decide(Outcome::kNotApproving, at);
            }
        } else {
            Decide(Outcome::kNoAnswer, at);
        }
    }

    void OnVerdict(std::uint8_t b, std::uint64_t at) {
        if (b == 0) {
            return;
        }
        if (b == kDle) {
            m_windowStart = at;
            m_deadline = at + kVerdictMs + kLateMs;
            return;
        }
        Decide(b == kEot   ? Outcome::kComplete
               : b == kCan ? Outcome::kRejected
                           : Outcome::kUnknownVerdict,
               at);
    }

    // A byte read or a failed write decided the outcome at virtual time at.
    void Decide(Outcome outcome, std::uint64_t at) {
        m_outcome = outcome;
        m_decidedAt = at;
    }

    void StartVerdictWait(std::uint64_t at) {
        m_phase = Phase::kVerdict;
        m_positions.push_back(0);
        m_windowStart = at;
        m_deadline = at + kVerdictMs + kLateMs;
    }

    // The port closed: at once after what decided the outcome, or after a wait that was still
    // going ran its whole window.
    void OnClose(std::uint64_t at) {
        if (m_outcome != Outcome::kNone) {
            fuzz::Check(at == m_decidedAt, "the port stayed open after what decided the upload");
            return;
        }
        static constexpr Outcome kTimeouts[] = {Outcome::kNoReady,   Outcome::kNone,
                                                Outcome::kNoGoAhead, Outcome::kNone,
                                                Outcome::kNoAnswer,  Outcome::kVerdictTimeout};
        const Outcome timeout = kTimeouts[static_cast<int>(m_phase)];
        fuzz::Check(timeout != Outcome::kNone, "the upload stopped in the middle of sending");
        const std::uint64_t length = m_phase == Phase::kReady     ? kSettleMs + kReadyMs
                                     : m_phase == Phase::kGoAhead ? kGoAheadMs
                                     : m_phase == Phase::kAnswer  ? kAnswerMs
                                                                  : kVerdictMs;
        const std::uint64_t start = m_phase == Phase::kReady ? 0 : m_windowStart;
        fuzz::Check(at >= start + length, "a wait gave up before its window ran out");
        fuzz::Check(at <= m_deadline, "a wait ran past its window");
        m_outcome = timeout;
    }

    std::size_t SliceSize() const {
        return std::min<std::size_t>(kSliceBytes, m_firmware.imageLength - m_offset);
    }

    Bytes SliceFrame() const {
        fuzz::Check(m_offset < m_firmware.imageLength, "a data packet after the whole image");
        return Frame(HexDigits(m_firmware.image + m_offset, SliceSize()));
    }

    const Setup& m_setup;
    const FirmwarePayload& m_firmware;
    Phase m_phase = Phase::kReady;
    Outcome m_outcome = Outcome::kNone;
    Bytes m_frame;              // the packet being written, as far as it went
    std::size_t m_offset = 0;  // image bytes accepted
    int m_sends = 0;           // sends of the slice at m_offset
    std::uint64_t m_windowStart = 0;
    std::uint64_t m_deadline = 0;   // the latest time the current wait may still read
    std::uint64_t m_lastAt = 0;     // the time of the last port call
    std::uint64_t m_decidedAt = 0;  // when a byte or a failed write decided the outcome
    std::vector<int> m_positions;
};

const char* ExpectedText(Outcome outcome) {
    switch (outcome) {
        case Outcome::kNoReady:
        case Outcome::kNoGoAhead:
            return "No data from the scanner. Please retry from step 4";
        case Outcome::kWriteFailed:
            return "Unable to send data to the scanner. Please retry from step 4";
        case Outcome::kNotApproving:
            return "Scanner not approving the upgrade packets";
        case Outcome::kNoAnswer:
            return "Timed out waiting for response from scanner";
        case Outcome::kRejected:
            return "Scanner rejected the upgrade!";
        case Outcome::kVerdictTimeout:
            return "Scanner response timeout!";
        case Outcome::kUnknownVerdict:
            return "Scanner unknown response!";
        default:
            return nullptr;
    }
}

void ExpectControls(const fakes::RecordingView& view, bool reset) {
    fuzz::Check(view.IsEnabled(kTestButton) == reset && view.IsEnabled(kUpdateButton) == !reset &&
                    view.IsEnabled(kComList) == reset,
                reset ? "the controls were not handed back to TEST" : "the controls changed");
}

bool LoggedBefore(const fakes::EventLog& log, const std::string& first, const std::string& prefix) {
    const int a = log.IndexOf(first);
    for (std::size_t i = 0; i < log.entries.size(); ++i) {
        if (log.entries[i].rfind(prefix, 0) == 0) {
            return a >= 0 && a < static_cast<int>(i);
        }
    }
    return false;
}

void CheckRun(const Setup& setup, const FirmwarePayload& firmware, const fakes::EventLog& log,
              const fakes::RecordingView& view, const fuzz::RecordingOpener& opener) {
    opener.CheckOneRequest(setup.portIndex + 1);
    fuzz::Check(view.cursorDepth == 0, "the wait cursor was not ended");
    fuzz::Check(view.progressAlive == 0, "the progress window was left on screen");
    if (setup.openMode != fuzz::OpenMode::kOpens) {
        fuzz::Check(view.messages.size() == 1 &&
                        view.messages.front().text ==
                            "Unable to open the port COM" + std::to_string(setup.portIndex + 1) +
                                ". Make sure that it's actually\nexists and is not being used by "
                                "any other program (e.g. a\nPDA program like Palm's HotSync).",
                    "wrong message when the port cannot be opened");
        ExpectControls(view, false);
        return;
    }
    opener.CheckClosedLast();
    Model model(setup, firmware);
    model.Walk(opener.events);
    const Outcome outcome = model.outcome();
    ExpectControls(view, true);
    fuzz::Check(view.shown.count(kCompletion) == (outcome == Outcome::kComplete ? 1u : 0u),
                "the completion text does not follow EOT after the last ACK");
    if (outcome == Outcome::kComplete || outcome == Outcome::kSilentCleanUp) {
        fuzz::Check(view.messages.empty(), "a message box on a way that has none");
    } else {
        fuzz::Check(view.messages.size() == 1 && view.messages.front().style == kFailureStyle,
                    "not exactly one failure message");
        const char* text = ExpectedText(outcome);
        fuzz::Check(text != nullptr && view.messages.front().text == text,
                    "wrong failure message: \"" + view.messages.front().text + "\"");
    }
    if (setup.progress == ProgressMode::kMade) {
        fuzz::Check(view.progressPositions == model.positions(),
                    "the progress bar did not follow the accepted packets");
    }
    if (outcome == Outcome::kComplete) {
        fuzz::Check(setup.progress != ProgressMode::kMade ||
                        LoggedBefore(log, "progress delete", "show "),
                    "the progress window was still up when the completion text showed");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const Setup setup = ReadSetup(input);
    fakes::EventLog log;
    fakes::VirtualClock clock(setup.startTick, kPollStepMs);
    fakes::ScriptedPort port(clock, log);
    switch (setup.fault) {
        case WriteFault::kNone:
            break;
        case WriteFault::kClaimsMore:
            port.SetWriteResult(setup.faultWrite, 1000);
            break;
        case WriteFault::kTakesPart:
            port.SetWriteResult(setup.faultWrite, 5);
            break;
        case WriteFault::kTakesNone:
            port.SetWriteResult(setup.faultWrite, 0);
            break;
        case WriteFault::kTimesOut:
            port.FailWritesFrom(setup.faultWrite);
            break;
    }
    FirmwarePayload& firmware = fuzz::FirmwareCopy();
    firmware.imageLength = setup.imageLength;
    Scanner scanner(input, port, setup.imageLength);
    scanner.Begin();
    fuzz::RecordingOpener opener(port, clock, setup.openMode);
    fakes::RecordingView view(log, &clock);
    view.SetEnabled(kTestButton, false);  // as the TEST that offered the upload left them
    view.SetEnabled(kUpdateButton, true);
    view.SetEnabled(kComList, false);
    view.progressCreationYieldsNull = setup.progress == ProgressMode::kNone;
    view.progressCreationThrows = setup.progress == ProgressMode::kThrows;
    DialogIo io{view, opener, clock};
    // Whatever it returns, the checks read the outcome from what it did.
    static_cast<void>(RunDialogUpdate(io, firmware, setup.portIndex));
    CheckRun(setup, firmware, log, view, opener);
    return 0;
}
