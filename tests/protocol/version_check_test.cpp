// TEST in virtual time: the ready wait, the query and its resends, the reply, the verdict.
#include "version_check.h"

#include <gtest/gtest.h>

#include "link_frame.h"
#include "resource.h"
#include "test_support.h"

using namespace fakes;

namespace {

const Bytes kQuery(scanlink::kQueryPacket.begin(), scanlink::kQueryPacket.end());
const Bytes kAck{scanlink::ACK};

const std::string kOpenFailedCom4 =
    "Unable to open the port COM4. Make sure that it actually\nexists and is not being used by any "
    "other program (e.g. a\nPDA program like Palm's HotSync).\n\nPlease retry from Step 2.";
const std::string kNoReady = "No data from the scanner. Please retry from step 1";
const std::string kNoReply = "Unable to communicate with the scanner.\n\nPlease retry from Step 1.";
const std::string kCarriedLine = "This update utility contains version 1.10.";

class VersionCheckTest : public ExchangeTest {
protected:
    explicit VersionCheckTest(std::uint32_t startTick = 1000) : ExchangeTest(startTick) {}

    void Run() { result = RunDialogTest(io, TestFirmware(), portIndex, scannerVersion); }

    // The virtual time of the first query; the reply window closes 2500 ms after it.
    std::uint64_t FirstQueryAt() const {
        const auto queries = WritesOf(kQuery);
        return queries.empty() ? 0 : queries.front().at;
    }

    // Control changes and status texts, which only a reply may bring.
    std::size_t DialogChanges() const {
        return log.WithPrefix("enable").size() + log.WithPrefix("text").size();
    }

    int portIndex = -1;
    int scannerVersion = -7;  // a value no path of the check would leave
    exchange::VersionCheckResult result;
};

}  // namespace

// --- opening the port ---------------------------------------------------------------------

class VersionCheckOpenFailure : public VersionCheckTest,
                                public ::testing::WithParamInterface<ScriptedOpener::Mode> {};

TEST_P(VersionCheckOpenFailure, NamesTheComNumberAndChangesNothingElse) {
    opener.mode = GetParam();
    view.portSelection = 3;
    Run();
    EXPECT_EQ(portIndex, 3);
    ASSERT_EQ(opener.requests.size(), 1u);
    const auto& request = opener.requests[0];
    EXPECT_EQ(request.name, "\\\\.\\COM4");
    EXPECT_EQ(request.baudRate, 115200);
    EXPECT_EQ(request.parity, 'N');
    EXPECT_EQ(request.dataBits, 8);
    EXPECT_EQ(request.stopBits, 1);
    EXPECT_TRUE(request.dtr);
    EXPECT_TRUE(request.rts);
    EXPECT_EQ(log.entries, (std::vector<std::string>{"port open \\\\.\\COM4",
                                                     "message 48: " + kOpenFailedCom4}));
    EXPECT_EQ(scannerVersion, -7);
    EXPECT_TRUE(clock.Sleeps().empty());
}

INSTANTIATE_TEST_SUITE_P(ThrowOrNothing, VersionCheckOpenFailure,
                         ::testing::Values(ScriptedOpener::Mode::kThrowInt,
                                           ScriptedOpener::Mode::kThrowStd,
                                           ScriptedOpener::Mode::kReturnNull));

// --- the ready wait -----------------------------------------------------------------------

TEST_F(VersionCheckTest, NoReadyByteShowsTheMessageWhileThePortIsOpen) {
    port.Arrive(500, {'x'});
    port.Arrive(1900, {0x00, 'c'});  // not 'C', and they don't restart the window
    port.Arrive(2150, {'C'});        // after the window
    Run();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, kNoReady);
    EXPECT_EQ(view.messages[0].style, 48u);
    EXPECT_TRUE(LoggedBefore("message 48: " + kNoReady, "port close"));
    // 100 ms pause, then 2000 ms: the window is not cut short, nor stretched.
    EXPECT_GE(view.messages[0].at, 2100u);
    EXPECT_LE(view.messages[0].at, 2105u);
    EXPECT_TRUE(port.Writes().empty());
    EXPECT_EQ(port.drains, 0);
    EXPECT_EQ(DialogChanges(), 0u);
    EXPECT_EQ(scannerVersion, -7);
    ASSERT_FALSE(clock.Sleeps().empty());
    EXPECT_EQ(clock.Sleeps()[0], (std::pair<std::uint64_t, std::uint32_t>{0, 100}));
}

// The window opens at 100 ms and has run out once 2000 ms have passed: the last poll inside it
// sees a byte that arrived at 2100, a byte at 2101 comes too late.
TEST_F(VersionCheckTest, ReadyWindowRunsOutWhenItsLengthHasPassed) {
    port.Arrive(2100, {'C'});
    Run();
    EXPECT_EQ(WritesOf(kQuery).size(), 5u);
    EXPECT_EQ(view.messages.back().text, kNoReply);
}

TEST_F(VersionCheckTest, ReadyByteOneMillisecondTooLate) {
    port.Arrive(2101, {'C'});
    Run();
    EXPECT_TRUE(port.Writes().empty());
    EXPECT_EQ(view.messages.back().text, kNoReady);
}

// --- the query, its resends and the reply -------------------------------------------------

TEST_F(VersionCheckTest, BytesBeforeTheQueryAreDrained) {
    // A whole valid reply among the early bytes must not be taken: only the later one counts.
    Bytes early{'C', 'C', 'C', 'z'};
    const Bytes stale = VersionReply('F', 'F');
    early.insert(early.end(), stale.begin(), stale.end());
    port.Arrive(150, early);
    port.Arrive(800, VersionReply('1', '0'));
    Run();
    EXPECT_EQ(port.drains, 1);
    EXPECT_TRUE(LoggedBefore("port drain", "port write 4 -> 4"));
    EXPECT_EQ(scannerVersion, 0x10);
    EXPECT_EQ(view.texts[IDC_VERSION], "\nUPDATER VERSION: 1.10");
    EXPECT_EQ(port.irregularReads, 0);
    EXPECT_EQ(result.bytesReceived, 1 + 7) << "the 'C' and the reply; not what was drained";
}

TEST_F(VersionCheckTest, ReplyDuringThePauseIsFoundAfterIt) {
    port.Arrive(150, {'C'});
    port.Arrive(350, VersionReply('0', '5'));
    Run();
    EXPECT_EQ(scannerVersion, 5);
    const auto acks = WritesOf(kAck);
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_GE(acks[0].at, FirstQueryAt() + 500);  // read only once the pause has ended
    EXPECT_EQ(acks[0].limitMs, 1000);
    EXPECT_EQ(port.Writes().back().bytes, kAck);
}

TEST_F(VersionCheckTest, QueryIsResentEveryFiveHundredMillisecondsUntilTheWindowCloses) {
    port.Arrive(150, {'C'});
    Run();
    const auto queries = WritesOf(kQuery);
    ASSERT_EQ(queries.size(), 5u);  // at 0, ~500, ~1000, ~1500, ~2000
    for (std::size_t i = 1; i < queries.size(); ++i) {
        const std::uint64_t gap = queries[i].at - queries[i - 1].at;
        EXPECT_GT(gap, 500u) << "resend " << i;  // strictly more than 500 ms
        EXPECT_LE(gap, 505u) << "resend " << i;
        EXPECT_EQ(queries[i].limitMs, 5000);
    }
    EXPECT_TRUE(WritesOf(kAck).empty());
    EXPECT_EQ(port.Writes().size(), 5u);
    // The port is closed first, then the message, 2500 ms after the first query.
    EXPECT_TRUE(LoggedBefore("port close", "message 48: " + kNoReply));
    EXPECT_GE(port.ClosedAt(), FirstQueryAt() + 2500);
    EXPECT_LE(port.ClosedAt(), FirstQueryAt() + 2505);
    EXPECT_EQ(DialogChanges(), 0u);
    EXPECT_EQ(scannerVersion, 0);  // set once the ready byte was seen
    EXPECT_EQ(result.outcome, exchange::VersionCheckOutcome::kNoReply);
    EXPECT_EQ(result.packetsSent, 5);
    EXPECT_EQ(result.resends, 4);
    EXPECT_EQ(result.packetsReceived, 0);
    EXPECT_EQ(result.messages, std::vector<std::string>{kNoReply});
}

TEST_F(VersionCheckTest, NoResendAfterTheReply) {
    port.Arrive(150, {'C'});
    port.Arrive(150 + 1200, VersionReply('0', '9'));
    Run();
    EXPECT_EQ(WritesOf(kQuery).size(), 3u);  // 0, ~500, ~1000
    EXPECT_EQ(WritesOf(kAck).size(), 1u);
    EXPECT_EQ(port.Writes().back().bytes, kAck);
    EXPECT_EQ(scannerVersion, 9);
}

TEST_F(VersionCheckTest, WrongChecksumIsIgnoredAndALaterReplyTaken) {
    port.Arrive(150, {'C'});
    port.Arrive(700, VersionReply('F', 'F', /*badChecksum=*/true));
    port.Arrive(900, {0x02, 'x', 'y', 'F', 'F', 'z', 0x03});  // ETX one place late
    port.Arrive(1100, VersionReply('1', '0'));
    Run();
    EXPECT_EQ(scannerVersion, 0x10);
    EXPECT_EQ(WritesOf(kAck).size(), 1u);
    EXPECT_EQ(view.messages.back().text, kCarriedLine);
}

TEST_F(VersionCheckTest, OnlyABrokenReplyMeansNoReplyAndNoAck) {
    port.Arrive(150, {'C'});
    port.Arrive(700, VersionReply('F', 'F', /*badChecksum=*/true));
    Run();
    EXPECT_TRUE(WritesOf(kAck).empty());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, kNoReply);
    EXPECT_EQ(view.messages[0].style, 48u);
    EXPECT_EQ(DialogChanges(), 0u);
}

// A pulled cable that the port reports ends the reply window at once, not 2000 ms later.
TEST_F(VersionCheckTest, ADeviceThatGoesAwayEndsTheReplyWaitAtOnce) {
    port.Arrive(150, {'C'});
    port.GoAwayAfterWrite(0);  // the first query
    Run();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, kNoReply);
    EXPECT_LE(view.messages[0].at, port.GoneAt() + 500 + 5);  // the pause after the query
    EXPECT_EQ(DialogChanges(), 0u);
    EXPECT_TRUE(result.portWentAway);
}

TEST_F(VersionCheckTest, FailedWritesAndReadsAreNotReported) {
    port.Arrive(150, {'C'});
    port.Arrive(700, VersionReply('1', '2'));
    port.SetWriteResult(0, 0);  // the first query fails
    port.SetWriteResult(1, 0);  // the resend too
    port.SetWriteResult(2, 0);  // and the ACK: the reply stands all the same
    Run();
    EXPECT_EQ(scannerVersion, 0x12);
    EXPECT_EQ(port.Writes().back().bytes, kAck);
    EXPECT_EQ(view.messages.back().style, 36u);
}

TEST_F(VersionCheckTest, TestAgainUsesThePortThenSelected) {
    port.Arrive(150, {'C'});
    port.Arrive(700, VersionReply('1', '1'));
    view.yesNoAnswer = IDNO;
    Run();
    ASSERT_TRUE(view.IsEnabled(IDC_TEST));
    view.portSelection = 9;
    Run();
    ASSERT_EQ(opener.requests.size(), 2u);
    EXPECT_EQ(opener.requests[1].name, "\\\\.\\COM10");
    EXPECT_EQ(portIndex, 9);
}

// --- the reported version and what follows ------------------------------------------------

namespace {

struct VersionCase {
    const char* digits;
    int answer;  // to the question, if one is asked
    int version;
    unsigned style;
    std::string message;
    std::string label;
    bool offered;
};

const std::string kQuestionSame =
    kCarriedLine +
    "\n\nThis updater contains a version that is the same as what your scanner\nalready "
    "contains.\n\nDo you really want to upload version 1.1 ?";
const std::string kQuestionOlder =
    kCarriedLine +
    "\n\nThis updater contains a version that is older than what your scanner\nalready "
    "contains.\n\nDo you really want to upload version 1.1 ?";
const std::string kNoCode =
    "The scanner currently contains no CPU application code!\n\nThis update utility contains "
    "version 1.10.";
const std::string kLabel = "\nUPDATER VERSION: 1.10";
const std::string kLabelNone = "SCANNER VERSION: -none-\nUPDATER VERSION: 1.10";

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.digits << (c.answer == IDYES ? " yes" : " no");
}

class VersionOutcome : public VersionCheckTest,
                       public ::testing::WithParamInterface<VersionCase> {};

}  // namespace

TEST_P(VersionOutcome, LabelMessageAndControls) {
    const VersionCase& c = GetParam();
    port.Arrive(150, {'C'});
    port.Arrive(800, VersionReply(c.digits[0], c.digits[1]));
    view.yesNoAnswer = c.answer;
    Run();
    EXPECT_EQ(scannerVersion, c.version);
    EXPECT_EQ(WritesOf(kAck).size(), 1u);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, c.message);
    EXPECT_EQ(view.messages[0].style, c.style);
    const std::string onOff = c.offered ? " off" : " on";
    const std::string offOn = c.offered ? " on" : " off";
    // Port closed, label, message, then the three controls in this order.
    const std::vector<std::string> tail(log.entries.end() - 6, log.entries.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "port close", "text 1005: " + c.label,
                        "message " + std::to_string(c.style) + ": " + c.message,
                        "enable 1002" + onOff, "enable 1003" + offOn, "enable 1000" + onOff}));
    EXPECT_EQ(view.IsEnabled(IDC_TEST), !c.offered);
    EXPECT_EQ(view.IsEnabled(IDC_UPDATE), c.offered);
    EXPECT_EQ(view.IsEnabled(IDC_COMPORT), !c.offered);
    // The result says the same without the dialog.
    EXPECT_EQ(result.outcome, c.offered ? exchange::VersionCheckOutcome::kUploadOffered
                                        : exchange::VersionCheckOutcome::kUploadNotOffered);
    EXPECT_EQ(result.scannerVersion, c.version);
    EXPECT_EQ(result.questionAsked, c.style == 36u);
    EXPECT_EQ(result.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(result.packetsReceived, 1);
    EXPECT_FALSE(result.portWentAway);
}

INSTANTIATE_TEST_SUITE_P(
    ReportedDigits, VersionOutcome,
    ::testing::Values(
        VersionCase{"00", IDNO, 1, 64, kCarriedLine, kLabel, true},  // 0 is taken as 1
        VersionCase{"G1", IDNO, 1, 64, kCarriedLine, kLabel, true},  // no digit: 0, then 1
        VersionCase{"1G", IDNO, 1, 64, kCarriedLine, kLabel, true},  // D1 alone
        // No blank or sign before the digits: " a" is not 10, "-1" no negative version.
        VersionCase{" a", IDNO, 1, 64, kCarriedLine, kLabel, true},
        VersionCase{"-1", IDNO, 1, 64, kCarriedLine, kLabel, true},
        VersionCase{"10", IDNO, 16, 64, kCarriedLine, kLabel, true},
        VersionCase{"11", IDYES, 17, 36, kQuestionSame, kLabel, true},
        VersionCase{"11", IDNO, 17, 36, kQuestionSame, kLabel, false},
        VersionCase{"1A", IDYES, 26, 36, kQuestionOlder, kLabel, true},
        VersionCase{"1a", IDNO, 26, 36, kQuestionOlder, kLabel, false},
        VersionCase{"FE", IDYES, 254, 36, kQuestionOlder, kLabel, true},
        VersionCase{"FF", IDNO, 255, 64, kNoCode, kLabelNone, true}));

// --- a tick counter that wraps ------------------------------------------------------------

class VersionCheckAcrossTheWrap : public VersionCheckTest {
protected:
    VersionCheckAcrossTheWrap() : VersionCheckTest(0xFFFFFFFFu - 999) {}  // wraps at 1000 ms
};

TEST_F(VersionCheckAcrossTheWrap, ReadyWindowKeepsItsLength) {
    Run();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, kNoReady);
    EXPECT_GE(view.messages[0].at, 2100u);
    EXPECT_LE(view.messages[0].at, 2105u);
}

TEST_F(VersionCheckAcrossTheWrap, ResendsAndReplyWindowKeepTheirTiming) {
    port.Arrive(600, {'C'});  // the first query goes out ~400 ms before the wrap
    Run();
    const auto queries = WritesOf(kQuery);
    ASSERT_EQ(queries.size(), 5u);
    for (std::size_t i = 1; i < queries.size(); ++i) {
        EXPECT_GT(queries[i].at - queries[i - 1].at, 500u);
        EXPECT_LE(queries[i].at - queries[i - 1].at, 505u);
    }
    EXPECT_GE(port.ClosedAt(), FirstQueryAt() + 2500);
    EXPECT_LE(port.ClosedAt(), FirstQueryAt() + 2505);
}
