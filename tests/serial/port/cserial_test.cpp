// CSerial's own logic against a scripted platform: character time, line settings, pacing,
// the open-or-throw constructor, operations on a closed port, and the drain.
#include "cserial.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "log_capture.h"
#include "scratch_port.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A platform whose every call succeeds unless told otherwise, with a scripted tick count.
class ScriptedPlatform : public SerialPlatform {
public:
    PortHandle OpenPort(const char*, std::uint32_t& error) override {
        ++opens;
        if (openError != 0) {
            error = openError;
            return {};
        }
        return scratch.Open();
    }
    bool GetCommState(PortHandle&, Dcb& dcb, std::uint32_t& error) override {
        dcb = current;
        error = getStateError;
        return getStateError == 0;
    }
    bool SetCommState(PortHandle&, const Dcb& dcb, std::uint32_t& error) override {
        applied = dcb;
        error = setStateError;
        return setStateError == 0;
    }
    bool SetNoTimeouts(PortHandle&, std::uint32_t& error) override {
        error = timeoutsError;
        return timeoutsError == 0;
    }
    CommStatus ClearCommError(PortHandle&) override {
        return CommStatus{std::exchange(lineErrors, 0), waiting};
    }
    TransferResult Read(PortHandle&, TransferRecord&, void*, int count, int) override {
        reads.push_back(count);
        if (!stuckInput) {
            waiting -= std::min(waiting, count);
        }
        return readResult.value_or(TransferResult{TransferOutcome::Completed, count, 0});
    }
    TransferResult Write(PortHandle&, TransferRecord&, const void*, int count, int) override {
        ++writes;
        return writeResult.value_or(TransferResult{TransferOutcome::Completed, count, 0});
    }
    std::uint32_t GetTickCount() override {
        const std::uint32_t tick = ticks.empty() ? 0 : ticks.front();
        if (ticks.size() > 1) {
            ticks.pop_front();
        }
        return tick;
    }
    void Sleep(std::uint32_t ms) override { sleeps.push_back(ms); }
    std::string OpenRefusalHolder() override { return holder; }

    std::uint32_t openError = 0;
    std::string holder;  // who holds the port, as a refused open tells it
    std::uint32_t getStateError = 0;
    std::uint32_t setStateError = 0;
    std::uint32_t timeoutsError = 0;
    Dcb current;
    Dcb applied;
    int waiting = 0;          // received bytes in the input queue
    bool stuckInput = false;  // reads take nothing from the queue (a device going away)
    std::deque<std::uint32_t> ticks;
    std::optional<TransferResult> writeResult;
    std::optional<TransferResult> readResult;
    std::uint32_t lineErrors = 0;
    std::vector<int> reads;
    std::vector<std::uint32_t> sleeps;
    int opens = 0;
    int writes = 0;
    ScratchPort scratch;  // the port handed out last
};

std::unique_ptr<CSerial> OpenScripted(ScriptedPlatform& platform) {
    return std::make_unique<CSerial>("\\\\.\\COM4", 115200, 'N', 8, 1, true, true, platform);
}

TEST(CharacterTime, CountsStartDataParityAndStopBits) {
    EXPECT_DOUBLE_EQ(CharacterMs(115200, 'N', 8, 1), 1000.0 / 11520.0);
    EXPECT_DOUBLE_EQ(CharacterMs(115200, 'E', 8, 1), 1000.0 / (115200.0 / 11.0));
    EXPECT_DOUBLE_EQ(CharacterMs(115200, 'O', 8, 1), 1000.0 / (115200.0 / 11.0));
    EXPECT_DOUBLE_EQ(CharacterMs(115200, 'N', 8, 2), 1000.0 / (115200.0 / 11.0));
    // 'M' sets no parity on the line yet is counted with a parity bit.
    EXPECT_DOUBLE_EQ(CharacterMs(115200, 'M', 8, 1), 1000.0 / (115200.0 / 11.0));
    // The quotient is not cut to an integer: 9600 / 11 is 872.72...
    EXPECT_DOUBLE_EQ(CharacterMs(9600, 'E', 8, 1), 1000.0 * 11.0 / 9600.0);
}

TEST(LineSettings, CallersArgumentsGiveRaw8N1WithDtrAndRts) {
    Dcb current;
    current.fOutxCtsFlow = 1;
    current.fOutX = 1;
    current.fNull = 1;
    current.XonLim = 2048;
    current.EofChar = 0x1A;
    const Dcb dcb = ApplyLineSettings(current, 115200, 'N', 8, 1, true, true);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(dcb.XoffChar, 0x01);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.XonLim, 0);
    EXPECT_EQ(dcb.EofChar, 0);
}

TEST(LineSettings, ParityAndStopBitQuirks) {
    const Dcb mark = ApplyLineSettings({}, 9600, 'M', 7, 1, false, false);
    EXPECT_EQ(mark.Parity, NOPARITY);
    EXPECT_EQ(mark.fParity, 1u);
    EXPECT_EQ(mark.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(mark.fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_EQ(ApplyLineSettings({}, 9600, 'E', 8, 1, true, true).Parity, EVENPARITY);
    EXPECT_EQ(ApplyLineSettings({}, 9600, 'O', 8, 1, true, true).Parity, ODDPARITY);
    for (int stopBits : {0, 2, 3}) {
        EXPECT_EQ(ApplyLineSettings({}, 9600, 'N', 8, stopBits, true, true).StopBits, TWOSTOPBITS)
            << stopBits;
    }
    EXPECT_EQ(ApplyLineSettings({}, 9600, 'N', 0x108, 1, true, true).ByteSize, 8)
        << "only the low 8 bits of the data bits count";
}

TEST(Pacing, FullDataPacketAt115200HasA21MsBudget) {
    const double msPerByte = CharacterMs(115200, 'N', 8, 1);
    EXPECT_EQ(PacingPause(1000, 1005, 243, msPerByte), 16u);
    EXPECT_EQ(PacingPause(1000, 1021, 243, msPerByte), 0u) << "the pause of 0 ms is still made";
    EXPECT_EQ(PacingPause(1000, 1030, 243, msPerByte), std::nullopt);
    EXPECT_EQ(PacingPause(1000, 1000, 243, msPerByte), std::nullopt)
        << "no pause of the whole budget when the counter has not moved";
    EXPECT_EQ(PacingPause(0xFFFFFFFEu, 3, 243, msPerByte), 16u) << "wrap of the counter";
}

TEST(Pacing, ShortWritesNeverPause) {
    const double msPerByte = CharacterMs(115200, 'N', 8, 1);
    for (int count = 1; count <= 11; ++count) {
        for (std::uint32_t elapsed : {0u, 1u, 5u}) {
            EXPECT_EQ(PacingPause(500, 500 + elapsed, count, msPerByte), std::nullopt) << count;
        }
    }
    EXPECT_EQ(PacingPause(500, 501, 12, msPerByte), 0u) << "12 bytes have a budget of 1 ms";
}

TEST(Pacing, WriteSleepsForTheRestOfTheBudget) {
    LogCapture log;
    ScriptedPlatform platform;
    auto port = OpenScripted(platform);
    const std::vector<std::uint8_t> packet(243, 0x30);
    platform.ticks = {0xFFFFFFFCu, 1};
    EXPECT_EQ(port->Write(packet.data(), 243, 5000), 243);
    platform.ticks = {7000, 7030};
    EXPECT_EQ(port->Write(packet.data(), 243, 5000), 243);
    platform.ticks = {7000, 7000};
    EXPECT_EQ(port->Write(packet.data(), 243, 5000), 243);
    EXPECT_THAT(platform.sleeps, ElementsAre(16u));
    // A failed write is not paced.
    platform.ticks = {100, 101};
    platform.writeResult = TransferResult{TransferOutcome::TimedOut, 0, 0};
    EXPECT_EQ(port->Write(packet.data(), 243, 5000), 0);
    EXPECT_THAT(platform.sleeps, ElementsAre(16u));
    EXPECT_THAT(log.Lines(),
                ElementsAre("CSerial::Write (writing data) - WaitForSingleObject() timed out"));
}

TEST(Pacing, AnotherWaitOutcomeReturnsZeroButStillPaces) {
    LogCapture log;
    ScriptedPlatform platform;
    auto port = OpenScripted(platform);
    const std::vector<std::uint8_t> packet(243, 0x30);
    platform.ticks = {10, 15};
    platform.writeResult = TransferResult{TransferOutcome::WaitFailed, 0, 0};
    EXPECT_EQ(port->Write(packet.data(), 243, 5000), 0);
    EXPECT_THAT(platform.sleeps, ElementsAre(16u));
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST(Construction, RefusedSettingsAreLoggedAndReleaseThePort) {
    LogCapture log;
    ScriptedPlatform platform;
    platform.setStateError = 0x16;
    EXPECT_THROW(OpenScripted(platform), int);
    EXPECT_FALSE(platform.scratch.IsHeld());
    platform.setStateError = 0;
    platform.getStateError = 0x19;
    EXPECT_THROW(OpenScripted(platform), int);
    platform.getStateError = 0;
    platform.timeoutsError = 0x05;
    EXPECT_THROW(OpenScripted(platform), int);
    EXPECT_FALSE(platform.scratch.IsHeld());
    EXPECT_THAT(
        log.Lines(),
        ElementsAre("CSerial::SetParams - SetCommState() failed, GetLastError()==0x00000016",
                    "CSerial::SetParams - GetCommState() failed, GetLastError()==0x00000019",
                    "CSerial::SetParams - SetCommTimeouts() failed, GetLastError()==0x00000005"));
}

TEST(Construction, AbsentPortThrowsTheIntegerOneAfterOneLine) {
    LogCapture log;
    ScriptedPlatform platform;
    platform.openError = 2;
    try {
        OpenScripted(platform);
        FAIL() << "no exception";
    } catch (int thrown) {
        EXPECT_EQ(thrown, 1);
    }
    EXPECT_THAT(
        log.Lines(),
        ElementsAre("CSerial::Open - CreateFile(\\\\.\\COM4) failed, GetLastError()==0x00000002"));
}

TEST(Construction, PortInUseNamesItsHolderBesideThePortName) {
    LogCapture log;
    ScriptedPlatform platform;
    platform.openError = 16;
    platform.holder = "held by PID 4242";
    EXPECT_THROW(OpenScripted(platform), int);
    EXPECT_THAT(log.Lines(), ElementsAre("CSerial::Open - CreateFile(\\\\.\\COM4 [held by PID "
                                         "4242]) failed, GetLastError()==0x00000010"));
}

TEST(Construction, ConfiguredPortGetsTheCallersSettings) {
    LogCapture log;
    ScriptedPlatform platform;
    platform.current.XonLim = 99;
    auto port = OpenScripted(platform);
    EXPECT_EQ(platform.applied.BaudRate, 115200u);
    EXPECT_EQ(platform.applied.XonLim, 0);
    EXPECT_TRUE(platform.scratch.IsHeld());
    port.reset();
    EXPECT_FALSE(platform.scratch.IsHeld()) << "deleting the object closes the port";
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST(ClosedPort, OperationsDoNothingAndLogNothing) {
    LogCapture log;
    ScriptedPlatform platform;
    auto port = OpenScripted(platform);
    EXPECT_TRUE(port->Close());
    EXPECT_FALSE(port->Close());
    std::uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(port->Read(buffer, 4, 1000), 0);
    EXPECT_EQ(port->Write(buffer, 4, 1000), 0);
    EXPECT_FALSE(port->SetParams(115200, 'N', 8, 1, true, true));
    EXPECT_TRUE(platform.reads.empty());
    EXPECT_EQ(platform.writes, 0);
    EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST(Failures, ReadAndWriteLogTheirPlatformErrors) {
    LogCapture log;
    ScriptedPlatform platform;
    auto port = OpenScripted(platform);
    std::uint8_t byte = 0;
    platform.lineErrors = CE_FRAME | CE_OVERRUN;
    EXPECT_EQ(port->Read(&byte, 1, 1000), 1) << "line errors do not stop the read";
    platform.readResult = TransferResult{TransferOutcome::StartFailed, 0, 0x09};
    EXPECT_EQ(port->Read(&byte, 1, 1000), 0);
    platform.readResult = TransferResult{TransferOutcome::ResultFailed, 0, 0x05};
    EXPECT_EQ(port->Read(&byte, 1, 1000), 0);
    platform.readResult = TransferResult{TransferOutcome::WaitFailed, 0, 0};
    EXPECT_EQ(port->Read(&byte, 1, 1000), 0);
    platform.writeResult = TransferResult{TransferOutcome::StartFailed, 0, 0x20};
    EXPECT_EQ(port->Write(&byte, 1, 1000), 0);
    platform.writeResult = TransferResult{TransferOutcome::ResultFailed, 0, 0x05};
    EXPECT_EQ(port->Write(&byte, 1, 1000), 0);
    EXPECT_THAT(
        log.Lines(),
        ElementsAre("CSerial::Read - ClearCommError returns 0x0000000A",
                    "CSerial::Read - ReadFile() failed, GetLastError()==0x00000009",
                    "CSerial::Read - GetOverlappedResult() failed, GetLastError()==0x00000005",
                    "CSerial::Write - WriteFile() failed, GetLastError()==0x00000020",
                    "CSerial::Write (writing data) - GetOverlappedResult() failed, "
                    "GetLastError()==0x00000005"));
}

TEST(Drain, Reads100100And50OfTwoHundredFiftyWaiting) {
    LogCapture log;
    ScriptedPlatform platform;
    auto port = OpenScripted(platform);
    platform.waiting = 250;
    port->DrainInput();
    EXPECT_THAT(platform.reads, ElementsAre(100, 100, 50));
    platform.reads.clear();
    platform.waiting = 0;
    port->DrainInput();
    EXPECT_THAT(platform.reads, IsEmpty());
}

// A read that brings nothing, while the status still reports input: the drain ends there.
struct StuckDrainCase {
    const char* name;
    int waiting;
    std::optional<TransferResult> readResult;
    std::vector<int> reads;
    std::vector<std::string> lines;
};

class StuckDrain : public ::testing::TestWithParam<StuckDrainCase> {};

TEST_P(StuckDrain, EndsAfterTheReadThatBroughtNothing) {
    LogCapture log;
    ScriptedPlatform platform;
    auto port = OpenScripted(platform);
    platform.waiting = GetParam().waiting;
    platform.stuckInput = true;
    platform.readResult = GetParam().readResult;
    port->DrainInput();
    EXPECT_EQ(platform.reads, GetParam().reads);
    EXPECT_EQ(log.Lines(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, StuckDrain,
    ::testing::Values(
        StuckDrainCase{"read_fails",
                       40,
                       TransferResult{TransferOutcome::StartFailed, 0, 0x05},
                       {40},
                       {"CSerial::Read - ReadFile() failed, GetLastError()==0x00000005"}},
        StuckDrainCase{"read_times_out",
                       250,
                       TransferResult{TransferOutcome::TimedOut, 0, 0},
                       {100},
                       {"CSerial::Read - WaitForSingleObject() timed out"}},
        StuckDrainCase{"wait_fails", 7, TransferResult{TransferOutcome::WaitFailed, 0, 0}, {7}, {}},
        StuckDrainCase{
            "result_without_bytes",
            3,
            TransferResult{TransferOutcome::ResultFailed, 0, 0x1F},
            {3},
            {"CSerial::Read - GetOverlappedResult() failed, GetLastError()==0x0000001F"}},
        // A status that reports a negative count asks for no read at all.
        StuckDrainCase{"negative_count", -5, std::nullopt, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
