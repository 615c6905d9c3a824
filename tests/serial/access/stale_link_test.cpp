// What a COM link may lead to: never to somebody's terminal or to no device, and a port is
// left with the line settings it had. The simulator takes its link away however it is ended.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "com_port_names.h"
#include "cserial.h"
#include "log_capture.h"
#include "port_safety.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Clock = std::chrono::steady_clock;

namespace {

std::unique_ptr<CSerial> OpenPort(const std::string& name) {
    return std::make_unique<CSerial>(name.c_str(), 115200, 'N', 8, 1, true, true);
}

std::string OpenFailedLine(const std::string& name, const char* code) {
    return "CSerial::Open - CreateFile(" + name + ") failed, GetLastError()==" + code;
}

// Fields of two terminal settings that differ, by name; empty when they are the same.
std::string SettingsDifference(const termios& a, const termios& b) {
    std::string differ;
    differ += a.c_iflag != b.c_iflag ? "iflag " : "";
    differ += a.c_oflag != b.c_oflag ? "oflag " : "";
    differ += a.c_cflag != b.c_cflag ? "cflag " : "";
    differ += a.c_lflag != b.c_lflag ? "lflag " : "";
    differ += cfgetispeed(&a) != cfgetispeed(&b) ? "ispeed " : "";
    differ += cfgetospeed(&a) != cfgetospeed(&b) ? "ospeed " : "";
    differ += std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) != 0 ? "cc " : "";
    return differ;
}

// A pseudo-terminal whose far end the test holds, published as a COM link in a private port
// link directory; the test's log goes to a file of its own.
class StaleLink : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = getenv("XDG_CONFIG_HOME")) {
            m_savedConfig = old;
        }
        setenv("XDG_CONFIG_HOME", (m_log.Dir() / "config").c_str(), 1);
        fs::create_directories(comports::PortLinkDirectory());
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
            GTEST_SKIP() << "no pseudo-terminal available";
        }
        m_path = name;
    }
    void TearDown() override {
        EndSession();
        for (int* fd : {&m_master, &m_slave}) {
            if (*fd >= 0) {
                close(*fd);
                *fd = -1;
            }
        }
        if (m_savedConfig) {
            setenv("XDG_CONFIG_HOME", m_savedConfig->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
    }

    // Points COM n at target.
    static void Link(int n, const fs::path& target) {
        fs::create_symlink(target, comports::PortLinkPath(n));
    }

    // Makes the terminal the controlling terminal of a new session, as a shell in a terminal
    // window has it; the session lives until EndSession.
    void StartSessionOnTerminal() {
        int ready[2];
        int release[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(release), 0);
        m_session = fork();
        ASSERT_GE(m_session, 0);
        if (m_session == 0) {
            close(ready[0]);
            close(release[1]);
            const bool made = setsid() >= 0 && ioctl(m_slave, TIOCSCTTY, 0) == 0;
            const char status = made ? 'y' : 'n';
            [[maybe_unused]] ssize_t ignored = write(ready[1], &status, 1);
            char wait;
            ignored = read(release[0], &wait, 1);  // returns when the test closes its end
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        m_release = release[1];
        char status = 'n';
        ASSERT_EQ(read(ready[0], &status, 1), 1);
        close(ready[0]);
        ASSERT_EQ(status, 'y') << "the child could not make the terminal its own";
    }

    void EndSession() {
        if (m_session <= 0) {
            return;
        }
        close(m_release);
        waitpid(m_session, nullptr, 0);
        m_session = -1;
    }

    termios Settings() const {
        termios now{};
        EXPECT_EQ(tcgetattr(m_slave, &now), 0);
        return now;
    }

    LogCapture m_log;
    std::optional<std::string> m_savedConfig;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
    pid_t m_session = -1;
    int m_release = -1;
};

}  // namespace

TEST_F(StaleLink, DanglingLinkFailsLikeAnAbsentPort) {
    Link(7, "/dev/pts/2147483647");
    EXPECT_THROW(OpenPort("\\\\.\\COM7"), int);
    EXPECT_THAT(m_log.Lines(), ElementsAre(OpenFailedLine("\\\\.\\COM7", "0x00000002")));
}

TEST_F(StaleLink, SomeSessionsControllingTerminalIsRefusedAndLeftAsItWas) {
    StartSessionOnTerminal();
    Link(8, m_path);
    const termios before = Settings();
    EXPECT_THROW(OpenPort("\\\\.\\COM8"), int);
    EXPECT_THAT(m_log.Lines(), ElementsAre(OpenFailedLine("\\\\.\\COM8", "0x00000010")));
    EXPECT_EQ(SettingsDifference(Settings(), before), "");

    // Once the session is over the same terminal is a free line like any other.
    EndSession();
    EXPECT_NO_THROW(OpenPort("\\\\.\\COM8"));
    EXPECT_EQ(m_log.Lines().size(), 1u);
}

TEST_F(StaleLink, WhatIsNoCharacterDeviceIsRefusedUntouched) {
    const fs::path file = m_log.Dir() / "notes.txt";
    std::ofstream(file) << "keep me\n";
    const fs::path fifo = m_log.Dir() / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Link(9, file);
    Link(10, fifo);
    EXPECT_THROW(OpenPort("\\\\.\\COM9"), int);
    EXPECT_THROW(OpenPort("\\\\.\\COM10"), int);
    EXPECT_THROW(OpenPort(file.string()), int);
    EXPECT_THAT(m_log.Lines(), ElementsAre(OpenFailedLine("\\\\.\\COM9", "0x00000013"),
                                           OpenFailedLine("\\\\.\\COM10", "0x00000013"),
                                           OpenFailedLine(file.string(), "0x00000013")));
    std::ifstream in(file);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "keep me\n");
}

// A pseudo-terminal that is nobody's controlling terminal is what the simulator publishes.
TEST_F(StaleLink, ClosingPutsBackTheSettingsTheTerminalHad) {
    termios cooked = Settings();
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_iflag |= ICRNL | IXON;
    cooked.c_oflag |= OPOST;
    cfsetispeed(&cooked, B9600);
    cfsetospeed(&cooked, B9600);
    ASSERT_EQ(tcsetattr(m_slave, TCSANOW, &cooked), 0);
    const termios before = Settings();
    Link(11, m_path);

    auto port = OpenPort("\\\\.\\COM11");
    const termios open = Settings();
    EXPECT_EQ(cfgetospeed(&open), speed_t(B115200));
    EXPECT_EQ(open.c_lflag & (ICANON | ECHO | ISIG), 0u);
    port.reset();

    // All but echo, which would send the scanner's bytes back from then until the close.
    termios echoOff = before;
    echoOff.c_lflag &= ~tcflag_t(ECHO);
    EXPECT_EQ(SettingsDifference(Settings(), echoOff), "");
    EXPECT_THAT(m_log.Lines(), IsEmpty());
}

TEST(ControllingTerminalOf, ReadsTheTerminalFieldBehindAnyCommandName) {
    // tty_nr 34816 is major 136 (pseudo-terminals), minor 0; 1083436 is minor 300.
    EXPECT_EQ(portsafety::ControllingTerminalOf("4242 (bash) S 1 4242 4242 34816 4242 0"),
              makedev(136, 0));
    EXPECT_EQ(portsafety::ControllingTerminalOf("7 (a) b (c)) R 1 7 7 1083436 -1 0"),
              makedev(136, 300));
    EXPECT_EQ(portsafety::ControllingTerminalOf("9 (kworker/0:1) I 2 0 0 0 -1 0"), std::nullopt);
    EXPECT_EQ(portsafety::ControllingTerminalOf("9 (cut"), std::nullopt);
    EXPECT_EQ(portsafety::ControllingTerminalOf("9 (short) S 1 9"), std::nullopt);
}

// --- the simulator's link ------------------------------------------------------------------

class SimulatorEnding : public ::testing::TestWithParam<int> {};

TEST_P(SimulatorEnding, RemovesItsLink) {
    const int signalNumber = GetParam();
    const fs::path dir = fs::temp_directory_path() / ("tr_sim_link_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path link = dir / "com12";
    const pid_t sim = fork();
    ASSERT_GE(sim, 0);
    if (sim == 0) {
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        execl(TR_SCANNER_SIM_PROGRAM, TR_SCANNER_SIM_PROGRAM, "--com", "12", "--link-dir",
              dir.c_str(), "--timeout", "60", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::error_code error;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!fs::is_symlink(fs::symlink_status(link, error)) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const bool published = fs::is_symlink(fs::symlink_status(link, error));
    kill(sim, signalNumber);
    int status = 0;
    ASSERT_EQ(waitpid(sim, &status, 0), sim);
    EXPECT_TRUE(published);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by the signal instead of by its own hand";
    EXPECT_FALSE(fs::exists(fs::symlink_status(link, error)));
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Signals, SimulatorEnding, ::testing::Values(SIGHUP, SIGTERM, SIGINT));

// A harness that keeps one simulator up across several exchanges asks it for what each saw:
// the summary so far, and counting afresh. The signal's default action would end it instead.
TEST(SimulatorSummary, SoFarOnSigusr1ThenAfresh) {
    const fs::path dir = fs::temp_directory_path() / ("tr_sim_sum_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path output = dir / "out";
    const pid_t sim = fork();
    ASSERT_GE(sim, 0);
    if (sim == 0) {
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        execl(TR_SCANNER_SIM_PROGRAM, TR_SCANNER_SIM_PROGRAM, "--com", "12", "--link-dir",
              dir.c_str(), "--timeout", "60", static_cast<char*>(nullptr));
        _exit(127);
    }
    auto text = [&] {
        std::ifstream in(output);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    auto waitFor = [&](const std::string& part) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (text().find(part) == std::string::npos && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    waitFor("Simulated scanner on ");
    // Nobody reads: it sends ready bytes until 16 wait, then no more.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const std::string block = "--- summary so far\nready bytes sent:    ";
    kill(sim, SIGUSR1);
    waitFor(block + "16\n");
    kill(sim, SIGUSR1);
    waitFor(block + "0\n");
    EXPECT_THAT(text(), ::testing::HasSubstr(block + "16\n"));
    EXPECT_THAT(text(), ::testing::HasSubstr(block + "0\n")) << "counted afresh";
    EXPECT_EQ(waitpid(sim, nullptr, WNOHANG), 0) << "it runs on";
    kill(sim, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(sim, &status, 0), sim);
    EXPECT_TRUE(WIFEXITED(status));
    fs::remove_all(dir);
}
