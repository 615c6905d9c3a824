// Waiting for input on a real pseudo-terminal: the port sleeps until a byte comes or its limit
// passes, so that the exchanges' polling loops leave the processor idle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cserial.h"
#include "firmware_payload.h"
#include "log_capture.h"
#include "port_opener_and_clock.h"
#include "raw_pty.h"
#include "version_check.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kComNumber = 9;

long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// A pseudo-terminal whose slave end is the utility's port, published as COM9 through a link
// in a private XDG_CONFIG_HOME; the test holds the master end as the peer.
class IdlePort : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OpenRawPty(m_master, m_slave, m_path)) {
            GTEST_SKIP() << "no pseudo-terminal available";
        }
        if (const char* old = getenv("XDG_CONFIG_HOME")) {
            m_savedConfig = old;
        }
        const fs::path config = m_log.Dir() / "config";
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        fs::create_directories(config / "tr520-updater" / "ports");
        fs::create_symlink(m_path, config / "tr520-updater" / "ports" / "com9");
    }
    void TearDown() override {
        m_savedConfig ? setenv("XDG_CONFIG_HOME", m_savedConfig->c_str(), 1)
                      : unsetenv("XDG_CONFIG_HOME");
        HangUpPeer();
    }

    std::unique_ptr<CSerial> OpenPort() {
        return std::make_unique<CSerial>(m_path.c_str(), 115200, 'N', 8, 1, true, true);
    }
    void PeerSendsLater(std::uint8_t byte, int afterMs) {
        m_peer = std::thread([this, byte, afterMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
            ASSERT_EQ(write(m_master, &byte, 1), 1);
        });
    }
    void HangUpPeer() {
        if (m_peer.joinable()) {
            m_peer.join();
        }
        CloseRawPty(m_master, m_slave);
    }

    LogCapture m_log;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
    std::optional<std::string> m_savedConfig;
    std::thread m_peer;
};

TEST_F(IdlePort, WaitForInputSleepsOutItsLimitOrEndsWithTheFirstByte) {
    auto port = OpenPort();
    auto start = Clock::now();
    port->WaitForInput(100);
    long took = MsSince(start);
    EXPECT_GE(took, 95) << "nothing arrived: the whole limit is waited";
    EXPECT_LT(took, 2000);
    EXPECT_EQ(port->BytesWaiting(), 0);

    PeerSendsLater('C', 100);
    start = Clock::now();
    port->WaitForInput(5000);
    took = MsSince(start);
    EXPECT_GE(took, 50);
    EXPECT_LT(took, 2500) << "the byte ends the wait, not the limit";
    EXPECT_EQ(port->BytesWaiting(), 1);

    start = Clock::now();
    port->WaitForInput(5000);
    EXPECT_LT(MsSince(start), 1000) << "input already waiting: no wait at all";
}

TEST_F(IdlePort, WaitForInputOnAHungUpLineStillWaitsItsLimit) {
    auto port = OpenPort();
    HangUpPeer();
    // The dead line reports itself ready at once; a poller must not spin on it.
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        port->WaitForInput(50);
        EXPECT_GE(MsSince(start), 45) << "round " << round;
    }
    EXPECT_EQ(port->BytesWaiting(), 0);
}

TEST_F(IdlePort, ClosedPortDoesNotWait) {
    auto port = OpenPort();
    port->Close();
    const auto start = Clock::now();
    port->WaitForInput(2000);
    EXPECT_LT(MsSince(start), 1000);
}

TEST_F(IdlePort, ExchangePortWaitsBeforeReportingNothingAndReportsInputAtOnce) {
    SerialPortOpener opener;
    auto port = opener.Open("\\\\.\\COM9", 115200, 'N', 8, 1, true, true);
    ASSERT_NE(port, nullptr);
    // Each empty look waits about a millisecond, so a loop of them cannot spin.
    constexpr int kLooks = 50;
    auto start = Clock::now();
    for (int i = 0; i < kLooks; ++i) {
        EXPECT_EQ(port->BytesWaiting(), 0);
    }
    EXPECT_GE(MsSince(start), kLooks - 1);

    const std::uint8_t bytes[] = {'C', 'C', 'C'};
    ASSERT_EQ(write(m_master, bytes, sizeof bytes), ssize_t(sizeof bytes));
    start = Clock::now();
    int waiting = 0;
    while (waiting < 3 && MsSince(start) < 2000) {
        waiting = port->BytesWaiting();
    }
    EXPECT_EQ(waiting, 3);
    std::uint8_t byte = 0;
    EXPECT_EQ(port->Read(&byte, 1, 1000), 1);
    EXPECT_EQ(port->BytesWaiting(), 2);
}

// A front end that acknowledges every message.
class SilentFrontEnd : public exchange::IFrontEnd {
public:
    exchange::PortToOpen Port() override { return exchange::ComPort(kComNumber); }
    void ShowMessage(const std::string&, exchange::MessageKind) override {}
    bool AskYesNo(const std::string&) override { return false; }
    void ScannerReplied(int) override {}
    std::unique_ptr<exchange::IProgressWindow> CreateProgressWindow() override { return nullptr; }
    void UploadAccepted() override {}
};

TEST_F(IdlePort, TestAgainstASilentScannerLeavesTheProcessorIdle) {
    SilentFrontEnd front;
    SerialPortOpener opener;
    SystemClock clock;
    exchange::ExchangeIo io{front, opener, clock};
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuMs();
    const exchange::VersionCheckResult result = exchange::RunVersionCheck(io, g_carriedFirmware);
    const double cpu = ThreadCpuMs() - cpuStart;
    const long wall = MsSince(start);
    EXPECT_EQ(result.messages,
              std::vector<std::string>{"No data from the scanner. Please retry from step 1"});
    EXPECT_GE(wall, 2000) << "the 100 ms pause and the whole 2000 ms ready window";
    // Polling without waiting would keep this thread running for all of the window.
    EXPECT_LT(cpu, 0.2 * static_cast<double>(wall)) << "CPU " << cpu << " ms in " << wall << " ms";
}

}  // namespace
