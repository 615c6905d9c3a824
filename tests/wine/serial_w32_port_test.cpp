// The Win32 CSerial on a real COM port. Under wine the port is a pseudo-terminal whose far
// end tr-pty-peer serves (tests/wine/with_peer.sh starts it): it echoes what it receives,
// and in the hang-up case closes the line after a set number of bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cserial.h"
#include "log_capture.h"
#include "process_cpu.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

const char* const kTimedOut = "CSerial::Read - WaitForSingleObject() timed out";

// The COM number the peer published for this case.
int PeerComNumber() {
    const char* com = std::getenv("TR_TEST_COM");
    return com != nullptr ? std::atoi(com) : 0;
}

std::string PortName(int com) {
    return "\\\\.\\COM" + std::to_string(com);
}

// Wine serves COM ports from the host's terminals and does not refuse a second opener.
bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::unique_ptr<CSerial> OpenPort(const std::string& name) {
    return std::make_unique<CSerial>(name.c_str(), 115200, 'N', 8, 1, true, true);
}

std::vector<unsigned char> Pattern(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    return bytes;
}

// Polls BytesWaiting until it reports at least count bytes or 3 s have passed.
int AwaitWaiting(CSerial& port, int count) {
    const auto deadline = Clock::now() + milliseconds(3000);
    int waiting = port.BytesWaiting();
    while (waiting < count && Clock::now() < deadline) {
        Sleep(10);
        waiting = port.BytesWaiting();
    }
    return waiting;
}

class SerialOnComPort : public ::testing::Test {
protected:
    void SetUp() override {
        const int com = PeerComNumber();
        ASSERT_GT(com, 0) << "TR_TEST_COM names no COM port; run through tests/wine/with_peer.sh";
        name = PortName(com);
        ASSERT_NO_THROW(port = OpenPort(name));
        EXPECT_EQ(port->BytesWaiting(), 0);
    }

    LogCapture logs;
    std::string name;
    std::unique_ptr<CSerial> port;
};

}  // namespace

TEST(SerialOpen, AnAbsentComNumberThrowsAfterOneLineWithTheErrorCode) {
    LogCapture logs;
    EXPECT_THROW(OpenPort("\\\\.\\COM219"), int);
    const auto lines = logs.Lines();
    ASSERT_EQ(lines.size(), 1u);
    unsigned code = 0;
    char tail = 0;
    ASSERT_EQ(std::sscanf(lines[0].c_str(),
                          "CSerial::Open - CreateFile(\\\\.\\COM219) failed, "
                          "GetLastError()==0x%8X%c",
                          &code, &tail),
              1)
        << lines[0];
    EXPECT_NE(code, 0u) << "the platform's own code, not a made-up one";
    EXPECT_EQ(lines[0].size(), std::strlen("CSerial::Open - CreateFile(\\\\.\\COM219) failed, "
                                           "GetLastError()==0x00000000"));
    RecordProperty("log_line", lines[0]);
}

TEST(SerialOpen, ADeviceThatIsNoSerialPortIsRefusedItsSettingsAndReleased) {
    LogCapture logs;
    EXPECT_THROW(OpenPort("NUL"), int);
    const auto lines = logs.Lines();
    ASSERT_EQ(lines.size(), 1u);
    unsigned code = 0;
    ASSERT_EQ(
        std::sscanf(lines[0].c_str(),
                    "CSerial::SetParams - GetCommState() failed, GetLastError()==0x%8X", &code),
        1)
        << lines[0];
    EXPECT_NE(code, 0u);
    RecordProperty("log_line", lines[0]);
}

TEST_F(SerialOnComPort, ReadWhoseLimitRunsOutReturnsZeroAndLeavesTheBufferAlone) {
    unsigned char buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    const auto start = Clock::now();
    EXPECT_EQ(port->Read(buffer, 1, 1000), 0);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, milliseconds(950));
    EXPECT_LT(elapsed, milliseconds(5000));
    EXPECT_EQ(logs.Lines(), std::vector<std::string>{kTimedOut});

    // A byte that arrives now must not land in the abandoned read's buffer.
    const unsigned char probe = 0x5A;
    ASSERT_EQ(port->Write(&probe, 1, 1000), 1);
    EXPECT_EQ(AwaitWaiting(*port, 1), 1) << "the echo arrives in the input queue";
    Sleep(200);
    EXPECT_EQ(buffer[0], 0xEE) << "the read was cancelled before Read returned";
    unsigned char echoed = 0;
    EXPECT_EQ(port->Read(&echoed, 1, 1000), 1);
    EXPECT_EQ(echoed, probe);
}

// The pattern holds every byte value: a line that is not raw would alter some of them.
TEST_F(SerialOnComPort, WholeCountsGoOutAndComeBack) {
    const auto sent = Pattern(300);
    EXPECT_EQ(port->Write(sent.data(), 300, 5000), 300);
    std::vector<unsigned char> received(300);
    EXPECT_EQ(port->Read(received.data(), 300, 5000), 300);
    EXPECT_EQ(received, sent);
    EXPECT_EQ(port->BytesWaiting(), 0);
    EXPECT_TRUE(logs.Lines().empty());
}

TEST_F(SerialOnComPort, ReadOfMoreBytesThanArriveTimesOutWithZero) {
    const auto sent = Pattern(3);
    ASSERT_EQ(port->Write(sent.data(), 3, 1000), 3);
    ASSERT_EQ(AwaitWaiting(*port, 3), 3);
    unsigned char buffer[4] = {};
    EXPECT_EQ(port->Read(buffer, 4, 1000), 0) << "not a short read of 3";
    EXPECT_EQ(logs.Lines(), std::vector<std::string>{kTimedOut});
}

TEST_F(SerialOnComPort, BytesWaitingCountsArrivalsAndReadTakesThemAtOnce) {
    const auto sent = Pattern(5);
    ASSERT_EQ(port->Write(sent.data(), 5, 1000), 5);
    EXPECT_EQ(AwaitWaiting(*port, 5), 5);
    std::vector<unsigned char> received(5);
    const auto start = Clock::now();
    EXPECT_EQ(port->Read(received.data(), 5, 1000), 5);
    EXPECT_LT(Clock::now() - start, milliseconds(500));
    EXPECT_EQ(received, sent);
    EXPECT_EQ(port->BytesWaiting(), 0);
}

TEST_F(SerialOnComPort, DrainInputEmptiesTheQueue) {
    const auto sent = Pattern(250);
    ASSERT_EQ(port->Write(sent.data(), 250, 5000), 250);
    ASSERT_EQ(AwaitWaiting(*port, 250), 250);
    port->DrainInput();
    EXPECT_EQ(port->BytesWaiting(), 0);
    EXPECT_TRUE(logs.Lines().empty());
}

TEST_F(SerialOnComPort, WaitForInputSleepsOutItsLimitOrEndsWithInput) {
    auto start = Clock::now();
    const double cpuStart = ProcessCpuMs();
    port->WaitForInput(500);
    const auto idle = Clock::now() - start;
    const double cpu = ProcessCpuMs() - cpuStart;
    EXPECT_GE(idle, milliseconds(480)) << "nothing arrived: the whole limit is waited";
    EXPECT_LT(idle, milliseconds(5000));
    const double idleMs = std::chrono::duration<double, std::milli>(idle).count();
    EXPECT_LT(cpu, 0.2 * idleMs) << "CPU " << cpu << " ms in " << idleMs << " ms";
    EXPECT_EQ(port->BytesWaiting(), 0);
    EXPECT_TRUE(logs.Lines().empty());

    const unsigned char probe = 0x5A;
    ASSERT_EQ(port->Write(&probe, 1, 1000), 1);  // the echo comes back at once
    start = Clock::now();
    port->WaitForInput(5000);
    EXPECT_LT(Clock::now() - start, milliseconds(2500)) << "the echo ends the wait";
    EXPECT_EQ(AwaitWaiting(*port, 1), 1);
    unsigned char echoed = 0;
    EXPECT_EQ(port->Read(&echoed, 1, 1000), 1);  // the next case starts with nothing waiting
    EXPECT_EQ(echoed, probe);
}

TEST(SerialClock, TickCountIsInMillisecondsAndSleepPauses) {
    SerialPlatform& platform = SystemSerialPlatform();
    const std::uint32_t before = platform.GetTickCount();
    platform.Sleep(200);
    const std::uint32_t slept = platform.GetTickCount() - before;
    // The tick count moves in steps (10 to 16 ms on Windows), so a 200 ms pause may read
    // one step short.
    EXPECT_GE(slept, 170u);
    EXPECT_LT(slept, 3000u);
}

TEST_F(SerialOnComPort, ASecondOpenOfAHeldPortIsRefused) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "wine does not enforce the exclusive open of COM ports; "
                        "this runs on a real Windows";
    }
    EXPECT_THROW(OpenPort(name), int);
    const auto lines = logs.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "CSerial::Open - CreateFile(" + name +
                            ") failed, GetLastError()==0x00000005");  // access denied
}

// Peer: hangs up after 1000 bytes, while the write below is still under way.
TEST_F(SerialOnComPort, HangUpInMidWriteFailsTheWrite) {
    const auto sent = Pattern(64 * 1024);
    const auto start = Clock::now();
    EXPECT_EQ(port->Write(sent.data(), static_cast<int>(sent.size()), 5000), 0);
    EXPECT_LT(Clock::now() - start, milliseconds(10000));
    const auto lines = logs.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("CSerial::Write (writing data) - ", 0), 0u) << lines[0];
    RecordProperty("log_line", lines[0]);
    // The dead line must let the callers' polling loops end.
    EXPECT_EQ(port->BytesWaiting(), 0);
    unsigned char byte = 0;
    EXPECT_EQ(port->Read(&byte, 1, 200), 0);
    // Wine fails the write with ERROR_NOT_READY, which a device may give for a moment, and the
    // read with ERROR_BROKEN_PIPE, which tells that the line is gone.
    EXPECT_TRUE(port->HasGoneAway());
    EXPECT_EQ(logs.Lines().back(),
              "CSerial - the port went away: the device was removed or its cable pulled");
    // A write on the dead line fails at once; the port stays open until it is deleted.
    const auto again = Clock::now();
    EXPECT_EQ(port->Write(sent.data(), 243, 1000), 0);
    EXPECT_LT(Clock::now() - again, milliseconds(900));
    EXPECT_EQ(logs.Lines().back().rfind("CSerial::Write", 0), 0u) << logs.Lines().back();
}
