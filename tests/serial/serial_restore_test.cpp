// Closing the port puts back the line settings it found, and only once the last bytes have
// left at the speed they were written with. The test stands in for tcsetattr and tcdrain
// (the real ones run behind it) to see the order of the backend's terminal calls.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "log_capture.h"
#include "port_lock.h"
#include "raw_pty.h"
#include "serial_port.h"

namespace {

// One terminal call as the backend made it.
struct TerminalCall {
    bool drain;  // tcdrain; otherwise tcsetattr
    int fd;
    int actions;    // TCSANOW, TCSADRAIN or TCSAFLUSH (tcsetattr only)
    speed_t speed;  // the output speed set (tcsetattr only)
};

std::mutex g_callsMutex;
std::vector<TerminalCall> g_calls;

void Record(const TerminalCall& call) {
    const std::lock_guard<std::mutex> guard(g_callsMutex);
    g_calls.push_back(call);
}

template <typename Function>
Function* Real(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int tcsetattr(int fd, int actions, const termios* settings) noexcept {
    static auto* real = Real<int(int, int, const termios*)>("tcsetattr");
    Record({false, fd, actions, settings != nullptr ? cfgetospeed(settings) : speed_t(0)});
    return real(fd, actions, settings);
}

extern "C" int tcdrain(int fd) {
    static auto* real = Real<int(int)>("tcdrain");
    Record({true, fd, 0, 0});
    return real(fd);
}

namespace {

class RestoreAfterDrain : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OpenRawPty(m_master, m_slave, m_path)) {
            GTEST_SKIP() << "no pseudo-terminal available";
        }
        std::filesystem::create_directories(m_log.Dir() / "lock");
        portlock::SetLockDirectories({m_log.Dir() / "lock"});
        // The line as another program left it: 9600 baud.
        termios before{};
        ASSERT_EQ(tcgetattr(m_slave, &before), 0);
        cfsetispeed(&before, B9600);
        cfsetospeed(&before, B9600);
        ASSERT_EQ(tcsetattr(m_slave, TCSANOW, &before), 0);
        const std::lock_guard<std::mutex> guard(g_callsMutex);
        g_calls.clear();
    }
    void TearDown() override {
        portlock::SetLockDirectories({});
        CloseRawPty(m_master, m_slave);
    }

    static std::vector<TerminalCall> Calls() {
        const std::lock_guard<std::mutex> guard(g_callsMutex);
        return g_calls;
    }

    LogCapture m_log;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

TEST_F(RestoreAfterDrain, TheLastAckLeavesBeforeTheOldSpeedComesBack) {
    auto port = std::make_unique<CSerial>(m_path.c_str(), 115200, 'N', 8, 1, true, true);
    const std::uint8_t ack = 0x06;
    ASSERT_EQ(port->Write(&ack, 1, 1000), 1);
    ASSERT_TRUE(port->Close());

    const auto calls = Calls();
    ASSERT_GE(calls.size(), 2u) << "the settings were changed and put back";
    const TerminalCall& restore = calls.back();
    ASSERT_FALSE(restore.drain);
    EXPECT_EQ(restore.speed, speed_t(B9600)) << "the last change puts back the old speed";
    const bool drainedFirst = restore.actions == TCSADRAIN || restore.actions == TCSAFLUSH ||
                              (calls.size() >= 2 && calls[calls.size() - 2].drain &&
                               calls[calls.size() - 2].fd == restore.fd);
    EXPECT_TRUE(drainedFirst) << "the settings went back before the output had drained";
    for (const TerminalCall& call : calls) {
        EXPECT_EQ(call.fd, restore.fd) << "only the port's own descriptor is changed";
    }

    termios after{};
    ASSERT_EQ(tcgetattr(m_slave, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), speed_t(B9600));
    std::uint8_t received = 0;
    pollfd in{m_master, POLLIN, 0};
    ASSERT_EQ(poll(&in, 1, 1000), 1);
    EXPECT_EQ(read(m_master, &received, 1), 1);
    EXPECT_EQ(received, ack);
    EXPECT_THAT(m_log.Lines(), ::testing::IsEmpty());
}

}  // namespace
