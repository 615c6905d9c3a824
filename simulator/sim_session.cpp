#include "sim_session.h"

#include <algorithm>
#include <thread>

#include "firmware_payload.h"

namespace scannersim {

namespace {

// On a device-like line, the least time from the utility's open to the first ready byte.
constexpr Ms kFirstReadyAfterOpen{2};

std::vector<std::uint8_t> ExpectedImage(const Options& options) {
    if (!options.expectedImage.empty()) {
        return options.expectedImage;
    }
    const auto image = g_carriedFirmware.Image();
    return {image.begin(), image.end()};
}

}  // namespace

Session::Session(const Options& options, SimLine& line, std::mutex& summaryMutex,
                 Summary& summary)
    : m_options(options),
      m_line(line),
      m_summaryMutex(summaryMutex),
      m_summary(summary),
      m_expected(ExpectedImage(options)) {
    m_line.onProblem = [this](const std::string& text) { Problem(text); };
}

void Session::Run() {
    Trace("waiting in upgrade mode");
    while (Alive()) {
        WaitForUtility();
    }
    // What the utility sent before the end is read as any other bytes (a query resent just
    // before is no stray byte); only what is then left was not expected.
    m_line.StopWaiting();
    while (m_line.Arrived()) {
        WaitForUtility();
    }
}

void Session::Unexpected(long bytes) {
    Update([&](Summary& s) { s.unexpectedBytes += bytes; });
}

void Session::Problem(const std::string& text) {
    Trace("problem: " + text);
    Update([&](Summary& s) { s.problems.push_back(text); });
}

void Session::Trace(const std::string& text) const {
    if (m_options.trace) {
        m_options.trace(text);
    }
}

// --- the line, as the session uses it ------------------------------------------------------

bool Session::Send(const std::vector<std::uint8_t>& bytes) {
    return Alive() && m_line.Send(bytes);
}

std::optional<std::uint8_t> Session::ReadByte(Clock::time_point deadline,
                                              bool endOnOpenOrClose) {
    const auto b = m_line.ReadByte(deadline, endOnOpenOrClose);
    if (b && m_inUpload) {
        ++m_uploadBytes;
        if (m_options.hangUpAfterBytes >= 0 && m_uploadBytes >= m_options.hangUpAfterBytes) {
            HangUp("after " + std::to_string(m_uploadBytes) + " upload bytes");
            return std::nullopt;
        }
    }
    return b;
}

void Session::HangUp(const std::string& why) {
    Trace("hanging up " + why);
    m_line.HangUp();
    Update([](Summary& s) { s.hungUp = true; });
}

// Sends DLE every busyInterval for the given time, starting at once.
void Session::KeepAlive(Ms busy) {
    if (busy.count() <= 0) {
        return;
    }
    const auto end = Clock::now() + busy;
    for (auto next = Clock::now(); Alive() && next < end; next += m_options.busyInterval) {
        if (!m_line.PauseUntil(next)) {
            return;
        }
        SendByte(kDle);
    }
    m_line.PauseUntil(end);
}

// --- waiting in upgrade mode ----------------------------------------------------------------

// Whether a ready byte is due. On a device-like line only while the utility has the port
// open, the first a moment after its open: no program can set up a line before its open has
// returned, and the old settings' echo in that moment is no fault of the program's.
bool Session::ReadyDue(Clock::time_point now) {
    const auto since = m_line.CarriesSince();
    if (!since) {
        return false;
    }
    if (m_options.deviceLike) {
        m_nextReady = std::max(m_nextReady, *since + kFirstReadyAfterOpen);
    }
    return now >= m_nextReady;
}

void Session::WaitForUtility() {
    const auto now = Clock::now();
    const bool sending = m_options.sendReady && ReadyDue(now);
    if (sending) {
        if (m_line.Backlog() < m_options.readyBacklogLimit && SendByte(kReady)) {
            Update([](Summary& s) { ++s.readyBytesSent; });
        }
        m_nextReady = now + m_options.readyInterval;
    }
    const bool scheduled = m_options.sendReady && m_line.CarriesSince();
    const auto wake = scheduled ? std::max(m_nextReady, now) : now + Ms(50);
    const auto b = ReadByte(wake, /*endOnOpenOrClose=*/true);
    if (!b) {
        return;
    }
    if (*b == kStx) {
        ReadReadyFrame();
    } else if (*b == kAck && m_awaitingAck) {
        m_awaitingAck = false;
        Trace("version reply acknowledged");
        Update([](Summary& s) { ++s.versionAcks; });
    } else {
        Problem("unexpected byte " + Hex(*b) + " while waiting");
        Unexpected(1);
    }
}

// A frame while waiting: the query or the start packet.
void Session::ReadReadyFrame() {
    m_source.taken = 0;
    const ReadyFrame frame = scannersim::ReadReadyFrame(m_source);
    switch (frame.kind) {
        case ReadyFrame::Kind::kQuery:
            AnswerQuery();
            return;
        case ReadyFrame::Kind::kRefused:
            Problem(frame.problem);
            Unexpected(1 + m_source.taken);  // its STX too
            return;
        case ReadyFrame::Kind::kStart:
            break;
    }
    Trace("start packet: image length " + std::to_string(frame.length));
    Update([&](Summary& s) {
        ++s.startPackets;
        s.announcedLength = frame.length;
    });
    if (frame.length == 0 || frame.length > FirmwarePayload::kImageCapacity) {
        Problem("start packet announces " + std::to_string(frame.length) + " bytes");
    }
    RunUpload(frame.length);
}

void Session::AnswerQuery() {
    if (!m_options.answerQuery) {
        Trace("query left unanswered");
        return;
    }
    if (!m_line.PauseUntil(Clock::now() + m_options.replyDelay)) {
        return;
    }
    std::vector<std::uint8_t> payload{m_options.replyX, m_options.replyY};
    for (char c : m_options.versionDigits.substr(0, 2)) {
        payload.push_back(static_cast<std::uint8_t>(c));
    }
    payload.resize(4, '0');
    const std::vector<std::uint8_t> reply{kStx,       payload[0], payload[1],
                                          payload[2], payload[3], kEtx,
                                          FrameChecksum(payload)};
    if (m_options.brokenReplyFirst && !m_brokenReplySent) {
        auto broken = reply;
        broken.back() = static_cast<std::uint8_t>(broken.back() + 1);
        Send(broken);
        m_brokenReplySent = true;
    }
    if (Send(reply)) {
        m_awaitingAck = true;
        Trace("query answered with version digits " + m_options.versionDigits);
        Update([](Summary& s) { ++s.queriesAnswered; });
    }
}

// --- the upload -----------------------------------------------------------------------------

void Session::RunUpload(std::uint32_t length) {
    // What an earlier upload delivered says nothing about this one.
    Update([](Summary& s) {
        s.imageBytes = 0;
        s.imageComplete = false;
        s.imageCorrect = false;
    });
    m_inUpload = true;
    m_uploadBytes = 10;  // the start packet
    KeepAlive(m_options.startBusy);
    if (!m_options.sendGoAhead || !Alive()) {
        m_inUpload = false;
        return;
    }
    SendByte(kEnq);
    std::vector<std::uint8_t> image;
    if (ReceiveImage(length, image)) {
        GiveVerdict(image);
    }
    m_inUpload = false;
}

// Takes data packets until length image bytes have been accepted; false when the upload was
// abandoned or the line went.
bool Session::ReceiveImage(std::uint32_t length, std::vector<std::uint8_t>& image) {
    int packet = 1;  // the number of the packet now expected
    int refusals = 0;
    bool afterNak = false;
    std::vector<std::uint8_t> refused;  // the last refused valid packet
    while (image.size() < length) {
        std::vector<std::uint8_t> frame;
        if (!ReadDataFrame(m_source, m_options.uploadIdle, frame) || !Alive()) {
            if (Alive()) {
                Problem("upload abandoned after " + std::to_string(image.size()) +
                        " image bytes");
            }
            return false;
        }
        Update([&](Summary& s) {
            ++s.packetsReceived;
            s.resends += afterNak ? 1 : 0;
        });
        if (HangUpDue()) {
            // The utility's next packet then cannot leave its end, so the pulled cable meets
            // it in mid-write, as a real one would.
            m_line.HoldUtilityOutput();
        }
        const std::string fault = CheckDataFrame(frame, length - image.size());
        if (!fault.empty()) {
            Problem("packet " + std::to_string(packet) + " refused: " + fault);
            Update([](Summary& s) { ++s.corruptPackets; });
            Unexpected(static_cast<long>(frame.size()));
            Refuse();
            afterNak = true;
        } else if (afterNak && !refused.empty() && frame != refused) {
            Problem("packet " + std::to_string(packet) + " resent with other bytes");
        }
        if (fault.empty() && m_options.nak.Refuses(packet) && refusals < m_options.nak.times) {
            ++refusals;
            Trace("packet " + std::to_string(packet) + " refused on purpose (" +
                  std::to_string(refusals) + ")");
            refused = frame;
            Refuse();
            afterNak = true;
        } else if (fault.empty()) {
            SendByte(kAck);
            AppendImage(frame, image);
            Update([&](Summary& s) {
                ++s.packets;
                s.imageBytes = image.size();
            });
            ++packet;
            refusals = 0;
            afterNak = false;
            refused.clear();
        }
        if (HangUpAfterPacket()) {
            return false;
        }
    }
    return true;
}

// Whether the line is to go once the packet just received has been answered.
bool Session::HangUpDue() {
    int received = 0;
    Update([&](Summary& s) { received = s.packetsReceived; });
    return m_options.hangUpAfterPackets >= 0 && received >= m_options.hangUpAfterPackets;
}

bool Session::HangUpAfterPacket() {
    if (HangUpDue()) {
        // Closing the line would discard an answer still waiting there: let the utility take
        // it and start its next write first.
        const auto deadline = Clock::now() + Ms(500);
        while (m_line.Backlog() > 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(Ms(1));
        }
        std::this_thread::sleep_for(Ms(100));
        int received = 0;
        Update([&](Summary& s) { received = s.packetsReceived; });
        HangUp("after " + std::to_string(received) + " data packets");
        return true;
    }
    return !Alive();
}

void Session::Refuse() {
    SendByte(kNak);
    Update([](Summary& s) { ++s.naksSent; });
}

void Session::GiveVerdict(const std::vector<std::uint8_t>& image) {
    const bool correct = image == m_expected;
    Trace(std::string("image complete, ") + (correct ? "correct" : "not the expected one"));
    Update([&](Summary& s) {
        s.imageComplete = true;
        s.imageCorrect = correct;
        s.completeCorrectUpload = s.completeCorrectUpload || correct;
    });
    KeepAlive(m_options.verdictBusy);
    std::optional<std::uint8_t> verdict;
    switch (m_options.verdict) {
        case VerdictMode::Judge:
            verdict = correct ? kEot : kCan;
            break;
        case VerdictMode::Reject:
            verdict = kCan;
            break;
        case VerdictMode::Silence:
            break;
        case VerdictMode::Unknown:
            verdict = m_options.unknownVerdictByte;
            break;
    }
    if (verdict && Alive() && SendByte(*verdict)) {
        Trace("verdict " + Hex(*verdict));
        Update([&](Summary& s) { s.verdictSent = verdict; });
    }
    m_done = !m_options.keepRunning;
}

}  // namespace scannersim
