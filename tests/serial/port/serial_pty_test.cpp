// CSerial on a real pseudo-terminal: the utility's end is the terminal, the test is the peer.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cserial.h"
#include "log_capture.h"
#include "port_lock.h"
#include "raw_pty.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class PtyPort : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OpenRawPty(m_master, m_slave, m_path)) {
            GTEST_SKIP() << "no pseudo-terminal available";
        }
        // Lock files go to the test's own directory, never the system's.
        std::filesystem::create_directories(m_log.Dir() / "lock");
        portlock::SetLockDirectories({m_log.Dir() / "lock"});
    }
    void TearDown() override {
        portlock::SetLockDirectories({});
        CloseRawPty(m_master, m_slave);
    }

    std::unique_ptr<CSerial> OpenPort() {
        return std::make_unique<CSerial>(m_path.c_str(), 115200, 'N', 8, 1, true, true);
    }
    void PeerSends(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Waits (up to 2 s) until the port reports count bytes waiting.
    static bool AwaitWaiting(CSerial& port, int count) {
        const auto start = Clock::now();
        while (port.BytesWaiting() < count) {
            if (MsSince(start) > 2000) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    void HangUpPeer() {
        close(m_master);
        close(m_slave);
        m_master = m_slave = -1;
    }

    LogCapture m_log;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

TEST_F(PtyPort, OpenSetsARaw115200Line) {
    auto port = OpenPort();
    termios t{};
    ASSERT_EQ(tcgetattr(m_slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON), 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_THAT(m_log.Lines(), IsEmpty()) << "a terminal without modem lines is no error";
}

TEST_F(PtyPort, OneByteReadOfAWaitingByteReturnsAtOnce) {
    auto port = OpenPort();
    PeerSends({'C'});
    ASSERT_TRUE(AwaitWaiting(*port, 1));
    std::uint8_t byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(port->Read(&byte, 1, 1000), 1);
    EXPECT_LT(MsSince(start), 200);
    EXPECT_EQ(byte, 'C');
    EXPECT_THAT(m_log.Lines(), IsEmpty());
}

TEST_F(PtyPort, ReadWithNothingArrivingTimesOutAfterTheLimit) {
    auto port = OpenPort();
    std::uint8_t byte = 0x55;
    const auto start = Clock::now();
    EXPECT_EQ(port->Read(&byte, 1, 1000), 0);
    const long took = MsSince(start);
    EXPECT_GE(took, 950);
    EXPECT_LT(took, 3000);
    EXPECT_THAT(m_log.Lines(), ElementsAre("CSerial::Read - WaitForSingleObject() timed out"));
}

TEST_F(PtyPort, ReadOfFourWhenThreeArriveReturnsZero) {
    auto port = OpenPort();
    PeerSends({1, 2, 3});
    std::uint8_t buffer[4] = {};
    const auto start = Clock::now();
    EXPECT_EQ(port->Read(buffer, 4, 1000), 0);
    EXPECT_GE(MsSince(start), 950);
    EXPECT_THAT(m_log.Lines(), ElementsAre("CSerial::Read - WaitForSingleObject() timed out"));
    // A byte that comes after the abandoned read is not stored into its buffer.
    buffer[3] = 0xEE;
    PeerSends({4});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(buffer[3], 0xEE);
}

TEST_F(PtyPort, DrainInputEmptiesTwoHundredFiftyWaitingBytes) {
    auto port = OpenPort();
    PeerSends(std::vector<std::uint8_t>(250, 'C'));
    ASSERT_TRUE(AwaitWaiting(*port, 250));
    port->DrainInput();
    EXPECT_EQ(port->BytesWaiting(), 0);
    PeerSends({0x06});
    ASSERT_TRUE(AwaitWaiting(*port, 1));
    std::uint8_t byte = 0;
    EXPECT_EQ(port->Read(&byte, 1, 1000), 1);
    EXPECT_EQ(byte, 0x06) << "only what was waiting was drained";
    EXPECT_THAT(m_log.Lines(), IsEmpty());
}

TEST_F(PtyPort, WriteDeliversTheWholePacket) {
    auto port = OpenPort();
    const std::vector<std::uint8_t> packet(243, '7');
    EXPECT_EQ(port->Write(packet.data(), 243, 5000), 243);
    std::vector<std::uint8_t> received(300);
    pollfd in{m_master, POLLIN, 0};
    ASSERT_EQ(poll(&in, 1, 1000), 1);
    EXPECT_EQ(read(m_master, received.data(), received.size()), 243);
}

TEST_F(PtyPort, SecondOpenOfAHeldPortFailsAndTheFirstCloseFreesIt) {
    auto first = OpenPort();
    EXPECT_THROW(OpenPort(), int);
    ASSERT_EQ(m_log.Lines().size(), 1u);
    EXPECT_THAT(m_log.Lines()[0], StartsWith("CSerial::Open - CreateFile(" + m_path +
                                             " [locked by PID "));
    // The test keeps its own end of the terminal open, as the simulated scanner does; the
    // exclusive use must still end with the first port.
    first.reset();
    EXPECT_NO_THROW(OpenPort());
}

TEST_F(PtyPort, ComNumberWithNoDeviceFailsLikeAnAbsentPort) {
    const auto config = m_log.Dir() / "config";
    const char* saved = getenv("XDG_CONFIG_HOME");
    const std::string savedValue = saved ? saved : "";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_THROW(CSerial("\\\\.\\COM150", 115200, 'N', 8, 1, true, true), int);
    saved ? setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    EXPECT_THAT(m_log.Lines(), ElementsAre("CSerial::Open - CreateFile(\\\\.\\COM150) failed, "
                                           "GetLastError()==0x00000002"));
}

TEST_F(PtyPort, CloseTwiceAndOperationsAfterClose) {
    auto port = OpenPort();
    PeerSends({'C'});
    ASSERT_TRUE(AwaitWaiting(*port, 1));
    EXPECT_TRUE(port->Close());
    EXPECT_FALSE(port->Close());
    std::uint8_t byte = 0;
    EXPECT_EQ(port->Read(&byte, 1, 1000), 0);
    EXPECT_EQ(port->Write(&byte, 1, 1000), 0);
    EXPECT_EQ(port->BytesWaiting(), 0);
    port->DrainInput();
    EXPECT_THAT(m_log.Lines(), IsEmpty());
    EXPECT_NO_THROW(OpenPort()) << "the port is free again";
}

TEST_F(PtyPort, PeerHangingUpMidWriteGivesZeroAndALine) {
    auto port = OpenPort();
    // Far more than the terminal buffers, so the write is still under way at the hang-up.
    const std::vector<std::uint8_t> data(1 << 20, 'A');
    std::thread peer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        HangUpPeer();
    });
    const auto start = Clock::now();
    const int written = port->Write(data.data(), static_cast<int>(data.size()), 5000);
    const long took = MsSince(start);
    peer.join();
    EXPECT_EQ(written, 0);
    EXPECT_LT(took, 4000) << "the hang-up ends the write, not the limit";
    ASSERT_EQ(m_log.Lines().size(), 2u);
    EXPECT_THAT(m_log.Lines()[0],
                StartsWith("CSerial::Write (writing data) - GetOverlappedResult() failed"));
    EXPECT_EQ(m_log.Lines()[1],
              "CSerial - the port went away: the device was removed or its cable pulled");
    EXPECT_TRUE(port->HasGoneAway());

    // Reads on the dead line end at once as well, and nothing is waiting.
    std::uint8_t byte = 0;
    const auto readStart = Clock::now();
    EXPECT_EQ(port->Read(&byte, 1, 1000), 0);
    EXPECT_LT(MsSince(readStart), 900);
    EXPECT_EQ(port->BytesWaiting(), 0);
    EXPECT_EQ(m_log.Lines().size(), 3u) << "the device's going away is told once";
}

}  // namespace
