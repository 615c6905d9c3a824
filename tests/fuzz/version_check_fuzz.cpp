// Fuzz target: TEST, driven by whatever the scanner sends, whenever it sends it.
//
// Input: a set-up byte, the carried version byte, a write-fault byte, then arrivals of two
// bytes each: the gap since the previous arrival (GapMs) and the byte that arrives. Set-up bits
// 0-1: how the port opens (0 and 1: it opens; 2: it throws 1; 3: it yields nothing); bit 2: the
// user answers Yes; bit 3: the tick count wraps during the run; bits 4-6: the port chosen (COM1
// to COM8); bit 7: the scanner gets its checksums right (the byte after any STX x x x x ETX is
// replaced by the checksum), so that the fuzzer can explore what a valid reply carries.
// Write-fault bits 0-2: the write it falls on (0: the first); bits 3-4: what that write does
// (0: nothing wrong; 1: it claims 2 bytes, part of a query, more than the ACK; 2: it takes
// none; 3: it and every later write time out, after their whole limit).
//
// Each run is checked against the rules, not against the code: the port opened once as chosen
// and closed on every path; nothing written but the query and one ACK, the ACK only once a
// seven-byte window of the bytes read since the drain decodes as a valid reply, and at once,
// and the port closed as soon as it is written; the query resent only after more than 500 ms
// since the last one returned, and not left unsent much longer; a failed write changes nothing
// but the time it took: a reply once taken stands; the version taken from the reply's digits;
// one message box, the one the outcome calls for, with the controls and the status label as it
// leaves them; the run's virtual time within the windows and the writes' time.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "exchange_fakes.h"
#include "fuzz_support.h"
#include "version_check.h"

namespace {

using fuzz::PortEvent;

// Each poll of the port moves virtual time on by this much: a 2000 ms window is 500 polls,
// which keeps a run well under a millisecond.
constexpr std::uint32_t kPollStepMs = 4;
constexpr std::uint64_t kSettleMs = 100;     // pause after the port opens
constexpr std::uint64_t kReadyMs = 2000;     // ready window
constexpr std::uint64_t kPauseMs = 500;      // pause after the first query
constexpr std::uint64_t kReplyMs = 2000;     // reply window, from the end of the pause
constexpr std::uint64_t kResendMs = 500;     // resend when the last query is more than this ago
constexpr std::uint64_t kLateMs = 2 * kPollStepMs;  // how late a poll may notice a deadline

constexpr int kComList = 1000;
constexpr int kTestButton = 1002;
constexpr int kUpdateButton = 1003;
constexpr int kStatusLabel = 1005;
constexpr unsigned kFailureStyle = 48;
constexpr unsigned kOutcomeStyle = 64;
constexpr unsigned kQuestionStyle = 36;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
constexpr int kUntouched = -12345;  // the dialog's members before the run

constexpr std::uint8_t kStx = 0x02, kEtx = 0x03, kAck = 0x06, kReady = 'C';
const fuzz::Bytes kQuery{0x02, 0x56, 0x03, 0x59};

enum class WriteFault { kNone, kClaimsTwo, kTakesNone, kTimesOut };

struct Setup {
    fuzz::OpenMode openMode;
    bool answerYes;
    std::uint32_t startTick;
    int portIndex;
    bool rightChecksums;
    std::uint8_t carried;
    WriteFault fault;
    std::size_t faultWrite;
};

Setup ReadSetup(fuzz::InputReader& input) {
    const std::uint8_t bits = input.Byte();
    static constexpr fuzz::OpenMode kModes[] = {fuzz::OpenMode::kOpens, fuzz::OpenMode::kOpens,
                                                fuzz::OpenMode::kThrowsInt,
                                                fuzz::OpenMode::kYieldsNothing};
    const std::uint8_t carried = input.Byte(0x11);
    const std::uint8_t fault = input.Byte();
    return {kModes[bits & 3],
            (bits & 4) != 0,
            (bits & 8) != 0 ? 0xFFFFFFFFu - 1500 : 1000u,
            (bits >> 4) & 7,
            (bits & 0x80) != 0,
            carried,
            static_cast<WriteFault>((fault >> 3) & 3),
            fault & 7u};
}

void PlantWriteFault(const Setup& setup, fakes::ScriptedPort& port) {
    switch (setup.fault) {
        case WriteFault::kNone:
            break;
        case WriteFault::kClaimsTwo:
            port.SetWriteResult(setup.faultWrite, 2);
            break;
        case WriteFault::kTakesNone:
            port.SetWriteResult(setup.faultWrite, 0);
            break;
        case WriteFault::kTimesOut:
            port.FailWritesFrom(setup.faultWrite);
            break;
    }
}

// The virtual time the writes took: a write that times out takes its whole limit.
std::uint64_t WriteTime(const std::vector<PortEvent>& events) {
    std::uint64_t total = 0;
    for (const PortEvent& e : events) {
        total += e.kind == PortEvent::Kind::kWrite ? e.end - e.at : 0;
    }
    return total;
}

// The version notation "%d.%d0".
std::string Notation(std::uint8_t v) {
    return std::to_string((v >> 4) & 7) + "." + std::to_string(v & 15) + "0";
}

int HexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The version the digits stand for: a hexadecimal number of at most two digits, the first
// alone when only it is a digit, 0 when it is not; then 0 is taken as 1.
int VersionOf(std::uint8_t d1, std::uint8_t d2) {
    const int high = HexDigit(d1);
    const int low = HexDigit(d2);
    const int version = high < 0 ? 0 : low < 0 ? high : high * 16 + low;
    return version == 0 ? 1 : version;
}

// The seven-byte window of the rules, over the bytes read since the drain.
struct ReplyWindow {
    std::array<std::uint8_t, 7> w{};
    bool Push(std::uint8_t b) {
        for (std::size_t i = 0; i + 1 < w.size(); ++i) w[i] = w[i + 1];
        w[6] = b;
        return w[0] == kStx && w[5] == kEtx &&
               w[6] == static_cast<std::uint8_t>(w[1] + w[2] + w[3] + w[4] + kEtx);
    }
};

bool IsRead(const PortEvent& e, std::uint8_t b) {
    return e.kind == PortEvent::Kind::kRead && e.result == 1 && e.bytes.front() == b;
}

class Run {
public:
    Run(const Setup& setup, fakes::EventLog& log, fakes::RecordingView& view,
        fuzz::RecordingOpener& opener, fakes::VirtualClock& clock)
        : m_setup(setup), m_log(log), m_view(view), m_opener(opener), m_clock(clock) {}

    void Check(int portIndex, int scannerVersion) {
        fuzz::Check(portIndex == m_setup.portIndex, "m_nPortIndex is not the list's selection");
        m_opener.CheckOneRequest(m_setup.portIndex + 1);
        fuzz::Check(m_view.messages.size() == 1, "not exactly one message box");
        const std::uint64_t longest = kSettleMs + kReadyMs + kPauseMs + kReplyMs + kLateMs;
        fuzz::Check(m_clock.Now() <= longest + WriteTime(m_opener.events),
                    "the check took longer than its windows and writes allow");
        if (m_setup.openMode != fuzz::OpenMode::kOpens) {
            fuzz::Check(m_opener.events.empty(), "a port that did not open was used");
            ExpectMessage("Unable to open the port COM" + std::to_string(m_setup.portIndex + 1) +
                              ". Make sure that it actually\nexists and is not being used by any "
                              "other program (e.g. a\nPDA program like Palm's HotSync).\n\n"
                              "Please retry from Step 2.",
                          kFailureStyle);
            ExpectControls(false);
            fuzz::Check(scannerVersion == kUntouched, "m_nScannerVersion changed without a port");
            return;
        }
        m_opener.CheckClosedLast();
        const auto& events = m_opener.events;
        std::size_t drain = events.size();
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (events[i].kind == PortEvent::Kind::kDrain) {
                fuzz::Check(drain == events.size(), "the input was drained twice");
                drain = i;
            }
        }
        for (std::size_t i = 0; i < drain; ++i) {
            fuzz::Check(events[i].kind != PortEvent::Kind::kWrite,
                        "wrote before the ready byte");
            fuzz::Check(!IsRead(events[i], kReady) || i + 1 == drain,
                        "read on after the ready byte, or did not drain after it");
        }
        if (drain == events.size()) {
            CheckNoReadyByte(scannerVersion);
        } else {
            CheckExchange(drain, scannerVersion);
        }
    }

private:
    void CheckNoReadyByte(int scannerVersion) {
        const std::uint64_t shown = m_view.messages.front().at;
        fuzz::Check(shown >= kSettleMs + kReadyMs, "the ready window was cut short");
        fuzz::Check(shown <= kSettleMs + kReadyMs + kLateMs, "the ready window ran long");
        ExpectMessage("No data from the scanner. Please retry from step 1", kFailureStyle);
        fuzz::Check(m_log.IndexOf("port close") > MessageIndex(),
                    "the port closed before the missing ready byte was reported");
        ExpectControls(false);
        fuzz::Check(scannerVersion == kUntouched, "m_nScannerVersion changed without 'C'");
    }

    void CheckExchange(std::size_t drain, int scannerVersion) {
        const auto& events = m_opener.events;
        fuzz::Check(drain > 0 && IsRead(events[drain - 1], kReady),
                    "drained without the ready byte");
        const std::uint64_t start = events[drain].at;
        std::vector<const PortEvent*> queries;
        std::size_t ack = 0;    // index of the ACK's write, 0 for none
        std::size_t reply = 0;  // index of the read that completed the first valid reply
        std::uint64_t longestResend = 0;  // the longest write of the query after the first
        ReplyWindow window;
        for (std::size_t i = drain + 1; i < events.size(); ++i) {
            const PortEvent& e = events[i];
            if (e.kind == PortEvent::Kind::kWrite && e.bytes == kQuery && !queries.empty()) {
                longestResend = std::max(longestResend, e.end - e.at);
            }
            if (e.kind == PortEvent::Kind::kRead && e.result == 1) {
                fuzz::Check(ack == 0, "read on after the ACK");
                if (reply == 0 && window.Push(e.bytes.front())) {
                    reply = i;
                }
            } else if (e.kind == PortEvent::Kind::kWrite && e.bytes == kQuery) {
                fuzz::Check(ack == 0 && reply == 0, "queried again after the reply");
                queries.push_back(&e);
            } else if (e.kind == PortEvent::Kind::kWrite && e.bytes == fuzz::Bytes{kAck}) {
                fuzz::Check(ack == 0, "a second ACK");
                fuzz::Check(reply != 0, "an ACK without a valid reply");
                fuzz::Check(i == reply + 1, "the ACK did not follow the reply at once");
                ack = i;
            } else {
                fuzz::Check(e.kind != PortEvent::Kind::kWrite, "wrote something else");
            }
        }
        fuzz::Check(!queries.empty() && queries.front()->at == start,
                    "the query did not go out at once after the drain");
        // The last send is taken when a query's write returns.
        for (std::size_t i = 1; i < queries.size(); ++i) {
            fuzz::Check(queries[i]->at - queries[i - 1]->end > kResendMs,
                        "the query was resent within 500 ms");
            fuzz::Check(queries[i]->at - queries[i - 1]->end <= kResendMs + kLateMs,
                        "the query was not resent in time");
        }
        const std::uint64_t end = events.back().at;  // the close
        fuzz::Check(end - queries.back()->end <= kResendMs + kLateMs || ack != 0,
                    "the last query was not resent in time");
        // The reply window starts after the pause that follows the first query. Its last pass
        // may begin just before it closes: that pass's resend may end after it, and the byte
        // read after the resend may complete a reply, whose ACK then takes its own time.
        const std::uint64_t windowEnd = queries.front()->end + kPauseMs + kReplyMs;
        const std::uint64_t ackTime = ack != 0 ? events[ack].end - events[ack].at : 0;
        fuzz::Check(end <= windowEnd + longestResend + kLateMs + ackTime,
                    "read on after the reply window");
        if (reply == 0) {
            fuzz::Check(end >= windowEnd, "the reply window was cut short");
            ExpectMessage("Unable to communicate with the scanner.\n\nPlease retry from Step 1.",
                          kFailureStyle);
            ExpectClosedBeforeMessage();
            ExpectControls(false);
            fuzz::Check(scannerVersion == 0, "m_nScannerVersion is not 0 without a reply");
            return;
        }
        fuzz::Check(ack != 0, "a valid reply went unanswered");
        fuzz::Check(end == events[ack].end, "the port stayed open after the reply's ACK");
        const ReplyWindow decoded = ReplyAt(drain, reply);
        CheckOutcome(VersionOf(decoded.w[3], decoded.w[4]), scannerVersion);
    }

    ReplyWindow ReplyAt(std::size_t drain, std::size_t reply) const {
        ReplyWindow window;
        for (std::size_t i = drain + 1; i <= reply; ++i) {
            const PortEvent& e = m_opener.events[i];
            if (e.kind == PortEvent::Kind::kRead && e.result == 1) {
                window.Push(e.bytes.front());
            }
        }
        return window;
    }

    void CheckOutcome(int version, int scannerVersion) {
        fuzz::Check(scannerVersion == version,
                    "m_nScannerVersion is " + std::to_string(scannerVersion) + ", the digits say " +
                        std::to_string(version));
        const std::uint8_t u = m_setup.carried;
        const bool noCode = version == 255;
        const bool asked = !noCode && version >= u;
        const bool offered = !asked || m_setup.answerYes;
        const std::string line = "This update utility contains version " + Notation(u) + ".";
        const fakes::MessageRecord& message = m_view.messages.front();
        fuzz::Check(message.style == (asked ? kQuestionStyle : kOutcomeStyle),
                    "the outcome's message box has the wrong style");
        const std::string first =
            noCode ? "The scanner currently contains no CPU application code!\n\n" + line : line;
        fuzz::Check(message.text.rfind(first, 0) == 0, "the outcome's text is wrong");
        if (asked) {
            const std::string question =
                "\n\nThis updater contains a version that is " +
                std::string(version > u ? "older than" : "the same as") +
                " what your scanner\nalready contains.\n\nDo you really want to upload version " +
                std::to_string((u >> 4) & 7) + "." + std::to_string(u & 15) + " ?";
            fuzz::Check(message.text == first + question, "the question's text is wrong");
        } else {
            fuzz::Check(message.text == first, "the outcome's text is wrong");
        }
        const auto label = m_view.texts.find(kStatusLabel);
        fuzz::Check(label != m_view.texts.end() &&
                        label->second == (noCode ? "SCANNER VERSION: -none-\nUPDATER VERSION: "
                                                 : "\nUPDATER VERSION: ") +
                                             Notation(u),
                    "the status label is wrong");
        ExpectClosedBeforeMessage();
        ExpectControls(offered);
    }

    void ExpectMessage(const std::string& text, unsigned style) const {
        const fakes::MessageRecord& message = m_view.messages.front();
        fuzz::Check(message.text == text && message.style == style,
                    "wrong message box: \"" + message.text + "\"");
    }

    int MessageIndex() const {
        for (std::size_t i = 0; i < m_log.entries.size(); ++i) {
            if (m_log.entries[i].rfind("message ", 0) == 0) return static_cast<int>(i);
        }
        return -1;
    }

    void ExpectClosedBeforeMessage() const {
        const int close = m_log.IndexOf("port close");
        fuzz::Check(close >= 0 && close < MessageIndex(),
                    "the outcome was shown while the port was still open");
    }

    // The upload offered: UPDATE alone enabled; otherwise TEST and the list, as before.
    void ExpectControls(bool offered) const {
        fuzz::Check(m_view.IsEnabled(kTestButton) == !offered &&
                        m_view.IsEnabled(kUpdateButton) == offered &&
                        m_view.IsEnabled(kComList) == !offered,
                    offered ? "the upload was not offered" : "the controls changed");
    }

    const Setup& m_setup;
    const fakes::EventLog& m_log;
    const fakes::RecordingView& m_view;
    const fuzz::RecordingOpener& m_opener;
    const fakes::VirtualClock& m_clock;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const Setup setup = ReadSetup(input);
    fakes::EventLog log;
    fakes::VirtualClock clock(setup.startTick, kPollStepMs);
    fakes::ScriptedPort port(clock, log);
    PlantWriteFault(setup, port);
    std::uint64_t at = 0;
    fuzz::Bytes sent;
    while (input.Left() >= 2) {
        at += fuzz::GapMs(input.Byte());
        sent.push_back(input.Byte());
        const std::size_t n = sent.size();
        if (setup.rightChecksums && n >= 7 && sent[n - 7] == kStx && sent[n - 2] == kEtx) {
            sent.back() = static_cast<std::uint8_t>(sent[n - 6] + sent[n - 5] + sent[n - 4] +
                                                    sent[n - 3] + kEtx);
        }
        port.Arrive(at, {sent.back()});
    }
    fuzz::RecordingOpener opener(port, clock, setup.openMode);
    fakes::RecordingView view(log, &clock);
    view.portSelection = setup.portIndex;
    view.yesNoAnswer = setup.answerYes ? kIdYes : kIdNo;
    FirmwarePayload& firmware = fuzz::FirmwareCopy();
    firmware.version = setup.carried;
    DialogIo io{view, opener, clock};
    int portIndex = kUntouched;
    int scannerVersion = kUntouched;
    // Whatever it returns, the checks read the outcome from what it did.
    static_cast<void>(RunDialogTest(io, firmware, portIndex, scannerVersion));
    Run(setup, log, view, opener, clock).Check(portIndex, scannerVersion);
    return 0;
}
