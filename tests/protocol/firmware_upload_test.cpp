// UPDATE in virtual time: ready wait, start packet, go-ahead, transfer, verdict, clean-up.
#include "firmware_upload.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "link_frame.h"
#include "resource.h"
#include "test_support.h"

using namespace fakes;

namespace {

constexpr std::uint8_t kNul = 0x00;
constexpr std::uint8_t kEnq = 0x05;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kCan = 0x18;

const std::string kOpenFailedCom4 =
    "Unable to open the port COM4. Make sure that it's actually\nexists and is not being used by "
    "any other program (e.g. a\nPDA program like Palm's HotSync).";
const std::string kNoData = "No data from the scanner. Please retry from step 4";
const std::string kWriteFailed = "Unable to send data to the scanner. Please retry from step 4";
const std::string kNotApproving = "Scanner not approving the upgrade packets";
const std::string kNoAnswer = "Timed out waiting for response from scanner";

const std::vector<std::string> kCleanUpControls{"enable 1002 on", "enable 1003 off",
                                                "enable 1000 on"};

// A record of length bytes in a counting pattern, with the carried version.
const FirmwarePayload& RecordOfLength(std::uint32_t length) {
    static std::map<std::uint32_t, std::unique_ptr<FirmwarePayload>> records;
    std::unique_ptr<FirmwarePayload>& record = records[length];
    if (!record) {
        record = std::make_unique<FirmwarePayload>();
        record->version = g_carriedFirmware.version;
        record->imageLength = length;
        for (std::uint32_t i = 0; i < length; ++i) {
            record->image[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
        }
    }
    return *record;
}

class UploadTest : public ExchangeTest {
protected:
    explicit UploadTest(const FirmwarePayload& record = g_carriedFirmware)
        : firmware(record), scanner(port, record.imageLength) {
        // As a TEST that offered the upload left the dialog.
        view.SetEnabled(IDC_TEST, false);
        view.SetEnabled(IDC_UPDATE, true);
        view.SetEnabled(IDC_COMPORT, false);
        view.portSelection = 7;  // the list is disabled; UPDATE uses the stored index
    }

    void Run() {
        scanner.Begin();
        result = RunDialogUpdate(io, firmware, 3);
    }

    // The data packet writes (everything after the start packet).
    std::vector<WriteRecord> DataWrites() const {
        const auto& writes = port.Writes();
        return writes.empty() ? writes : std::vector<WriteRecord>(writes.begin() + 1, writes.end());
    }

    // The dialog events from the first message, progress or control change on.
    std::vector<std::string> Outcome() const {
        std::vector<std::string> events;
        for (const auto& entry : log.entries) {
            if (entry.rfind("message", 0) == 0 || entry.rfind("enable", 0) == 0 ||
                entry.rfind("show", 0) == 0 || entry == "progress delete" ||
                entry == "port close" || entry == "cursor end") {
                events.push_back(entry);
            }
        }
        return events;
    }

    // Every way out once the port is open: the controls handed back, the progress window gone,
    // the port closed, the cursor ended, in this order after the failure's message (if any).
    void ExpectCleanUp(const std::vector<std::string>& before, bool progressAfterMessage) {
        std::vector<std::string> expected = before;
        expected.insert(expected.end(), kCleanUpControls.begin(), kCleanUpControls.end());
        if (progressAfterMessage) {
            expected.push_back("progress delete");
        }
        expected.push_back("port close");
        expected.push_back("cursor end");
        EXPECT_EQ(Outcome(), expected);
        EXPECT_EQ(log.entries.front(), "cursor begin");
        EXPECT_TRUE(view.IsEnabled(IDC_TEST));
        EXPECT_FALSE(view.IsEnabled(IDC_UPDATE));
        EXPECT_TRUE(view.IsEnabled(IDC_COMPORT));
        EXPECT_EQ(view.progressAlive, 0);
        EXPECT_EQ(view.cursorDepth, 0);
        EXPECT_TRUE(port.IsClosed());
        EXPECT_EQ(port.irregularReads, 0);
        EXPECT_EQ(scanner.malformedBytes, 0);
    }

    // A failure during the transfer: its message while the progress window is up.
    void ExpectTransferFailure(const std::string& message) {
        ExpectCleanUp({"message 48: " + message}, /*progressAfterMessage=*/true);
    }

    // A failure in the verdict: the progress window goes before the message.
    void ExpectVerdictFailure(const std::string& message) {
        ExpectCleanUp({"progress delete", "message 48: " + message}, false);
    }

    // The accepted upload: no message, the completion text shown; the result counts every
    // byte the writes took and every send of every packet.
    void ExpectSuccess() {
        ExpectCleanUp({"progress delete", "show 1004"}, false);
        EXPECT_EQ(scanner.image, Bytes(firmware.image, firmware.image + firmware.imageLength));
        EXPECT_EQ(result.outcome, exchange::UploadOutcome::kAccepted);
        EXPECT_TRUE(result.messages.empty());
        EXPECT_EQ(result.imageBytesAccepted, static_cast<int>(firmware.imageLength));
        long written = 0;
        for (const auto& write : port.Writes()) {
            written += write.result;
        }
        EXPECT_EQ(result.bytesSent, written);
        int sends = 0;
        for (const int n : scanner.sendsPerPacket) {
            sends += n;
        }
        EXPECT_EQ(result.packetsSent, sends);
        EXPECT_EQ(result.resends, sends - static_cast<int>(scanner.sendsPerPacket.size()));
    }

    // The time the answer window of the n-th data write (0-based) was started at, about.
    std::uint64_t DataWriteAt(std::size_t n) const { return DataWrites().at(n).at; }

    const FirmwarePayload& firmware;
    ScriptedScanner scanner;
    exchange::UploadResult result;
};

}  // namespace

// --- opening the port ---------------------------------------------------------------------

class UploadOpenFailure : public UploadTest,
                          public ::testing::WithParamInterface<ScriptedOpener::Mode> {};

TEST_P(UploadOpenFailure, LeavesTheControlsAsTheyWere) {
    opener.mode = GetParam();
    Run();
    EXPECT_EQ(log.entries,
              (std::vector<std::string>{"cursor begin", "port open \\\\.\\COM4",
                                        "message 48: " + kOpenFailedCom4, "cursor end"}));
    ASSERT_EQ(opener.requests.size(), 1u);
    const auto& request = opener.requests[0];
    EXPECT_EQ(request.baudRate, 115200);
    EXPECT_EQ(request.parity, 'N');
    EXPECT_EQ(request.dataBits, 8);
    EXPECT_EQ(request.stopBits, 1);
    EXPECT_TRUE(request.dtr && request.rts);
    EXPECT_TRUE(view.IsEnabled(IDC_UPDATE));  // can be pressed again
    EXPECT_FALSE(view.IsEnabled(IDC_TEST));
    EXPECT_FALSE(view.IsEnabled(IDC_COMPORT));
}

INSTANTIATE_TEST_SUITE_P(ThrowOrNothing, UploadOpenFailure,
                         ::testing::Values(ScriptedOpener::Mode::kThrowInt,
                                           ScriptedOpener::Mode::kThrowStd,
                                           ScriptedOpener::Mode::kReturnNull));

// --- the whole image ----------------------------------------------------------------------

// Any image of up to 262,144 bytes: the carried one, and lengths at the edges.
class WholeImageUpload : public UploadTest, public ::testing::WithParamInterface<std::uint32_t> {
protected:
    // 0 stands for the carried record.
    WholeImageUpload()
        : UploadTest(GetParam() == 0 ? g_carriedFirmware : RecordOfLength(GetParam())) {}
};

TEST_P(WholeImageUpload, EveryPacketOnceAndTheBarFollowsTheAcceptedBytes) {
    const std::uint32_t length = firmware.imageLength;
    const std::size_t packets = (length + 119) / 120;
    Run();
    ExpectSuccess();
    EXPECT_EQ(scanner.sendsPerPacket, std::vector<int>(packets, 1));
    char digits[7];
    std::snprintf(digits, sizeof digits, "%06X", length);
    ASSERT_EQ(scanner.startPacket.size(), 10u);
    EXPECT_EQ(std::string(scanner.startPacket.begin() + 2, scanner.startPacket.begin() + 8),
              digits);

    std::vector<int> positions;
    for (std::uint32_t accepted = 120; accepted < length; accepted += 120) {
        positions.push_back(static_cast<int>(accepted));
    }
    positions.push_back(static_cast<int>(length));
    positions.push_back(0);
    EXPECT_EQ(view.progressPositions, positions);

    const auto data = DataWrites();
    ASSERT_EQ(data.size(), packets);
    const std::size_t last = 2 * (length - 120 * (packets - 1)) + 3;
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(data[i].bytes.size(), i + 1 < packets ? 243u : last) << "packet " << i;
        EXPECT_EQ(data[i].limitMs, 5000);
    }
    const std::string range = "progress range 0 " + std::to_string(length);
    EXPECT_TRUE(LoggedBefore("progress create", range));
    EXPECT_TRUE(LoggedBefore("progress pos " + std::to_string(length), "progress pos 0"));
}

INSTANTIATE_TEST_SUITE_P(Lengths, WholeImageUpload, ::testing::Values(0u, 240u, 241u, 262144u));

// The image length of the placeholder, as a worked example of the packet arithmetic.
class FiftyNineThousandByteUpload : public UploadTest {
protected:
    FiftyNineThousandByteUpload() : UploadTest(RecordOfLength(59862)) {}
};

TEST_F(FiftyNineThousandByteUpload, GoesInFourHundredNinetyNinePackets) {
    Run();
    ExpectSuccess();
    EXPECT_EQ(scanner.sendsPerPacket, std::vector<int>(499, 1));
    EXPECT_EQ(scanner.startPacket,
              (Bytes{0x02, 0xFA, 0x30, 0x30, 0x45, 0x39, 0x44, 0x36, 0x03, 0x55}));

    std::vector<int> positions;
    for (int accepted = 120; accepted <= 59760; accepted += 120) {
        positions.push_back(accepted);
    }
    positions.push_back(59862);
    positions.push_back(0);
    EXPECT_EQ(view.progressPositions, positions);

    const auto data = DataWrites();
    ASSERT_EQ(data.size(), 499u);
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(data[i].bytes.size(), i < 498 ? 243u : 207u) << "packet " << i;
    }
    // The window appears with its range and caption; the bar is at 0 for the verdict wait.
    EXPECT_EQ(log.WithPrefix("progress create").size(), 1u);
    EXPECT_TRUE(LoggedBefore("progress create", "progress range 0 59862"));
    EXPECT_TRUE(LoggedBefore("progress range 0 59862", "progress caption Upgrading CPU"));
    EXPECT_TRUE(LoggedBefore("progress caption Upgrading CPU", "port write 243 -> 243"));
    EXPECT_TRUE(LoggedBefore("progress pos 59862", "progress pos 0"));
    EXPECT_TRUE(LoggedBefore("progress pos 0", "progress caption Waiting for CPU approval"));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.shown, std::set<int>{IDC_COMPLETE});
}

TEST_F(UploadTest, StartPacketGoesInOneWriteThenOnePause) {
    Run();
    const auto& writes = port.Writes();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[0].bytes.size(), 10u);
    EXPECT_EQ(writes[0].limitMs, 5000);
    std::vector<std::pair<std::uint64_t, std::uint32_t>> pauses;
    for (const auto& sleep : clock.Sleeps()) {
        if (sleep.second == 200) {
            pauses.push_back(sleep);
        }
    }
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_EQ(pauses[0].first, writes[0].at);
    EXPECT_GE(writes[1].at, writes[0].at + 200);
}

TEST_F(UploadTest, StartPacketWrittenInPartsMovesOnByWhatEachWriteTook) {
    port.SetWriteResult(0, 4);
    Run();
    ExpectSuccess();
    const auto& writes = port.Writes();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[1].bytes, Bytes(writes[0].bytes.begin() + 4, writes[0].bytes.end()));
    std::size_t pauses = 0;
    for (const auto& sleep : clock.Sleeps()) {
        pauses += sleep.second == 200;
    }
    EXPECT_EQ(pauses, 2u);
}

TEST_F(UploadTest, WithoutAProgressWindowTheUploadStillRuns) {
    view.progressCreationYieldsNull = true;
    Run();
    EXPECT_EQ(Outcome(), (std::vector<std::string>{"show 1004", "enable 1002 on", "enable 1003 off",
                                                   "enable 1000 on", "port close", "cursor end"}));
    EXPECT_EQ(scanner.image.size(), firmware.imageLength);
}

TEST_F(UploadTest, AnythingElseThrownEndsAtTheCleanUpWithoutAMessage) {
    view.progressCreationThrows = true;
    Run();
    ExpectCleanUp({}, false);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(port.Writes().size(), 1u);  // the start packet only
}

// --- the ready wait -----------------------------------------------------------------------

TEST_F(UploadTest, BytesBeforeTheReadyByteAreDropped) {
    port.Arrive(300, {'x', kEnq, kDle, kNul});  // an early ENQ is no go-ahead
    scanner.readyAtMs = 2100;  // the last moment of the window after the 100 ms pause
    Run();
    ExpectSuccess();
}

TEST_F(UploadTest, NoReadyByte) {
    scanner.readyBytes = {'c', kEnq};
    Run();
    ExpectCleanUp({"message 48: " + kNoData}, false);
    EXPECT_TRUE(port.Writes().empty());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_GE(view.messages[0].at, 2100u);
    EXPECT_LE(view.messages[0].at, 2105u);
}

// --- the go-ahead wait --------------------------------------------------------------------

TEST_F(UploadTest, KeepAlivesExtendTheGoAheadWait) {
    // The wait opens 200 ms after the start packet; each DLE comes within 1000 ms of the last.
    scanner.goAhead = {{1100, {kDle}}, {2000, {kDle}}, {2900, {kDle}}, {3800, {kEnq}}};
    Run();
    ExpectSuccess();
    EXPECT_GE(DataWriteAt(0), port.Writes()[0].at + 3800);
}

TEST_F(UploadTest, GoAheadWaitRunsOutAfterTheLastKeepAlive) {
    scanner.goAhead = {{1100, {kDle}}, {2150, {kEnq}}};  // 1050 ms after the DLE
    Run();
    ExpectCleanUp({"message 48: " + kNoData}, false);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_GE(view.messages[0].at, port.Writes()[0].at + 2100);
    EXPECT_LE(view.messages[0].at, port.Writes()[0].at + 2105);
    EXPECT_EQ(port.Writes().size(), 1u);
}

TEST_F(UploadTest, OtherBytesNeitherStartNorExtendTheGoAheadWait) {
    // Further ready bytes after the 'C' are not drained: the go-ahead wait drops them.
    scanner.readyBytes = {'C', 'C', 'C'};
    scanner.goAhead = {{600, {'x', kAck, kNul}}, {1000, {kNak}}, {1300, {kEnq}}};
    Run();
    ExpectCleanUp({"message 48: " + kNoData}, false);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_GE(view.messages[0].at, port.Writes()[0].at + 1200);  // 200 ms pause + 1000 ms
    EXPECT_LE(view.messages[0].at, port.Writes()[0].at + 1205);
    EXPECT_EQ(view.progressAlive, 0);
    EXPECT_TRUE(log.WithPrefix("progress").empty());
}

// --- answers to the data packets ----------------------------------------------------------

TEST_F(UploadTest, NakNakAckSendsThePacketThreeTimes) {
    scanner.AnswerSend(5, 0, {{1, {kNak}}});
    scanner.AnswerSend(5, 1, {{1, {kNak}}});
    Run();
    ExpectSuccess();
    EXPECT_EQ(scanner.sendsPerPacket[5], 3);
    const auto data = DataWrites();
    EXPECT_EQ(data[5].bytes, data[6].bytes);  // the same bytes again, unchanged
    EXPECT_EQ(data[6].bytes, data[7].bytes);
    EXPECT_NE(data[7].bytes, data[8].bytes);
}

TEST_F(UploadTest, ThirdNakEndsTheUploadWithoutAFourthSend) {
    for (std::size_t send = 0; send < 4; ++send) {
        scanner.AnswerSend(5, send, {{1, {kNak}}});
    }
    Run();
    ExpectTransferFailure(kNotApproving);
    EXPECT_EQ(scanner.sendsPerPacket.size(), 6u);
    EXPECT_EQ(scanner.sendsPerPacket[5], 3);
    EXPECT_EQ(DataWrites().size(), 5u + 3u);
    EXPECT_EQ(view.progressPositions, (std::vector<int>{120, 240, 360, 480, 600}));
    EXPECT_EQ(result.outcome, exchange::UploadOutcome::kNotApproved);
    EXPECT_EQ(result.messages, std::vector<std::string>{kNotApproving});
    EXPECT_EQ(result.imageBytesAccepted, 600);
    EXPECT_EQ(result.packetsSent, 8);
    EXPECT_EQ(result.resends, 2);
}

TEST_F(UploadTest, NakThenSilence) {
    scanner.AnswerSend(2, 0, {{1, {kNak}}});
    scanner.AnswerSend(2, 1, {});
    Run();
    ExpectTransferFailure(kNoAnswer);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_GE(view.messages[0].at, DataWriteAt(3) + 2000);
    EXPECT_LE(view.messages[0].at, DataWriteAt(3) + 2005);
    EXPECT_EQ(DataWrites().size(), 4u);
}

class UploadWrongAnswer : public UploadTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(UploadWrongAnswer, EndsTheUploadAtOnce) {
    scanner.AnswerSend(3, 0, {{1, {GetParam()}}, {500, {kAck}}});
    Run();
    ExpectTransferFailure(kNoAnswer);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_LE(view.messages[0].at, DataWriteAt(3) + 10);
    EXPECT_EQ(DataWrites().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(NeitherAckNorNak, UploadWrongAnswer,
                         ::testing::Values(kDle, kCan, std::uint8_t{'C'}));

TEST_F(UploadTest, NulAnswerCountsAsNothing) {
    scanner.AnswerSend(4, 0, {{1, {kNul}}, {1500, {kAck}}});
    scanner.AnswerSend(9, 0, {{1, {kNul, kNul}}, {300, {kNak}}});
    Run();
    ExpectSuccess();
    EXPECT_EQ(scanner.sendsPerPacket[4], 1);
    EXPECT_EQ(scanner.sendsPerPacket[9], 2);
    EXPECT_GE(DataWriteAt(5), DataWriteAt(4) + 1500);
}

TEST_F(UploadTest, SilenceAfterAPacket) {
    scanner.AnswerSend(0, 0, {});
    Run();
    ExpectTransferFailure(kNoAnswer);
    EXPECT_EQ(view.progressPositions, std::vector<int>{});
}

// --- writes that make no progress ---------------------------------------------------------

TEST_F(UploadTest, StartPacketWriteThatTakesNothing) {
    port.FailWritesFrom(0);
    Run();
    ExpectCleanUp({"message 48: " + kWriteFailed}, false);
    EXPECT_EQ(port.Writes().size(), 1u);
    EXPECT_TRUE(log.WithPrefix("progress").empty());
}

TEST_F(UploadTest, DataPacketWriteThatTakesNothing) {
    port.FailWritesFrom(1 + 7);  // the cable is pulled before the eighth data packet
    Run();
    ExpectTransferFailure(kWriteFailed);
    EXPECT_EQ(port.Writes().size(), 1u + 8u);
    EXPECT_EQ(view.progressPositions.size(), 7u);
    // It ends with the write's own limit, not after any wait of ours.
    EXPECT_LE(view.messages[0].at, port.Writes().back().at + 5000 + 5);
}

TEST_F(UploadTest, DataPacketWrittenInPartsIsCompletedWithoutAPause) {
    port.SetWriteResult(1 + 2, 100);
    Run();
    ExpectSuccess();
    const auto data = DataWrites();
    EXPECT_EQ(data[3].bytes, Bytes(data[2].bytes.begin() + 100, data[2].bytes.end()));
    EXPECT_EQ(data[3].at, data[2].at);
}

// --- a device that goes away --------------------------------------------------------------

// The waits on the scanner, each of which a pulled cable may interrupt.
enum class UploadWait { kReady, kGoAhead, kAnswer, kVerdict };

class UploadDeviceGone : public UploadTest, public ::testing::WithParamInterface<UploadWait> {};

// The port reports the hang-up at once; the wait ends then, with the message its window's end
// gives, not a whole window later.
TEST_P(UploadDeviceGone, EndsTheWaitAtOnceWithItsMessage) {
    const std::size_t packets = (firmware.imageLength + 119) / 120;
    switch (GetParam()) {
        case UploadWait::kReady:
            scanner.readyBytes = {};
            port.GoAwayAt(600);
            break;
        case UploadWait::kGoAhead:
            scanner.goAhead = {};
            port.GoAwayAfterWrite(0);
            break;
        case UploadWait::kAnswer:
            scanner.AnswerSend(5, 0, {});
            port.GoAwayAfterWrite(1 + 5);
            break;
        case UploadWait::kVerdict:
            scanner.verdict = {};
            port.GoAwayAfterWrite(packets, 5);  // once the last packet's ACK is in
            break;
    }
    Run();
    switch (GetParam()) {
        case UploadWait::kReady:
        case UploadWait::kGoAhead:
            ExpectCleanUp({"message 48: " + kNoData}, false);
            break;
        case UploadWait::kAnswer:
            ExpectTransferFailure(kNoAnswer);
            break;
        case UploadWait::kVerdict:
            ExpectVerdictFailure("Scanner response timeout!");
            break;
    }
    ASSERT_EQ(view.messages.size(), 1u);
    // The go-ahead wait begins 200 ms after the start packet; every window is 1000 ms or more.
    EXPECT_LE(view.messages[0].at, port.GoneAt() + 200 + 5);
}

INSTANTIATE_TEST_SUITE_P(Waits, UploadDeviceGone,
                         ::testing::Values(UploadWait::kReady, UploadWait::kGoAhead,
                                           UploadWait::kAnswer, UploadWait::kVerdict));

// --- the verdict --------------------------------------------------------------------------

TEST_F(UploadTest, KeepAlivesExtendTheVerdictWait) {
    scanner.verdict = {{1500, {kDle}}, {3000, {kNul, kDle}}, {4500, {kEot}}};
    Run();
    ExpectSuccess();
}

TEST_F(UploadTest, VerdictWaitRunsOutAfterTheLastKeepAlive) {
    scanner.verdict = {{1500, {kDle}}, {3600, {kEot}}};
    Run();
    ExpectVerdictFailure("Scanner response timeout!");
    const std::uint64_t lastAck = DataWrites().back().at + 1;
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_GE(view.messages[0].at, lastAck + 3500);
    EXPECT_LE(view.messages[0].at, lastAck + 3510);
}

TEST_F(UploadTest, NulVerdictCountsAsNothing) {
    scanner.verdict = {{1, {kNul}}, {1900, {kEot}}};
    Run();
    ExpectSuccess();
}

namespace {

struct VerdictCase {
    Bytes bytes;
    std::string message;  // empty: accepted
};

class UploadVerdict : public UploadTest, public ::testing::WithParamInterface<VerdictCase> {};

}  // namespace

TEST_P(UploadVerdict, MessageAfterTheProgressWindowIsGone) {
    const VerdictCase& c = GetParam();
    scanner.verdict = c.bytes.empty() ? Script{} : Script{{700, c.bytes}};
    Run();
    if (c.message.empty()) {
        ExpectSuccess();
        return;
    }
    ExpectVerdictFailure(c.message);
    EXPECT_TRUE(view.shown.empty());
    EXPECT_EQ(scanner.image.size(), firmware.imageLength);
}

INSTANTIATE_TEST_SUITE_P(ByByte, UploadVerdict,
                         ::testing::Values(VerdictCase{{kEot}, ""},
                                           VerdictCase{{kCan}, "Scanner rejected the upgrade!"},
                                           VerdictCase{{}, "Scanner response timeout!"},
                                           VerdictCase{{'Z'}, "Scanner unknown response!"},
                                           VerdictCase{{kAck}, "Scanner unknown response!"},
                                           VerdictCase{{kNak}, "Scanner unknown response!"}));
