// What closing the port leaves behind, and how long the close may take: the line settings and
// the low-latency flag put back, the last bytes given their time on the line and no more, and
// a close that a stalled adapter cannot hold. The test stands in for the backend's terminal
// calls (the real ones run behind them), and plays the serial driver where a pseudo-terminal
// has none: a low-latency flag, an output queue that drains or stalls, a close that waits.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <filesystem>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cserial.h"
#include "log_capture.h"
#include "port_lock.h"
#include "raw_pty.h"
#include "thread_alarm.h"

namespace {

using Clock = std::chrono::steady_clock;
using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr double kMsPerByte = 1000.0 / 11520;  // 115200 baud, 10-bit characters
constexpr int kDriverWaitMs = 3000;            // stands for the port's closing wait

// The serial driver behind the port, as the test plays it.
struct Driver {
    dev_t port = 0;          // the terminal the stand-ins act on
    bool hasSerial = false;  // answers TIOCGSERIAL; otherwise the terminal's own answer
    int serialFlags = 0;
    int refuseGet = 0;      // errno for TIOCGSERIAL, 0 to answer
    int refuseSet = 0;      // errno for TIOCSSERIAL, 0 to take it
    bool hasQueue = false;  // answers TIOCOUTQ from the count below
    int queued = 0;
    bool drains = false;  // the queue leaves at line speed from queuedSince; else it stalls
    Clock::time_point queuedSince;
    bool flushKeeps = false;  // tcflush leaves the queue: a USB driver keeps what it has taken
    int closeLateMs = 0;      // close() is held up this long, deaf to signals, before its wait
    bool chipStalls = false;  // TIOCOUTQ reads 0, but the chip never sends what it holds
};

std::mutex g_mutex;
Driver g_driver;
std::vector<std::string> g_events;  // the terminal calls on the port, in order

void Record(const std::string& event) {
    g_events.push_back(event);
}

template <typename Function>
Function* Real(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

bool IsPort(int fd) {
    struct stat st {};
    return g_driver.port != 0 && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) &&
           st.st_rdev == g_driver.port;
}

int QueuedNow() {
    if (!g_driver.drains || g_driver.queued == 0) {
        return g_driver.queued;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - g_driver.queuedSince).count();
    return std::max(0, g_driver.queued - static_cast<int>(ms / kMsPerByte));
}

int Fail(int error) {
    errno = error;
    return -1;
}

// The driver's answer to an ioctl on the port; none when the real terminal answers it.
std::optional<int> DriverIoctl(unsigned long request, void* arg) {
    if (request == TIOCGSERIAL) {
        Record("TIOCGSERIAL");
        if (!g_driver.hasSerial) {
            return std::nullopt;
        }
        if (g_driver.refuseGet != 0) {
            return Fail(g_driver.refuseGet);
        }
        *static_cast<serial_struct*>(arg) = serial_struct{};
        static_cast<serial_struct*>(arg)->flags = g_driver.serialFlags;
        return 0;
    }
    if (request == TIOCSSERIAL) {
        const int flags = static_cast<const serial_struct*>(arg)->flags;
        Record((flags & ASYNC_LOW_LATENCY) ? "TIOCSSERIAL low_latency" : "TIOCSSERIAL plain");
        if (!g_driver.hasSerial || g_driver.refuseSet != 0) {
            return Fail(g_driver.hasSerial ? g_driver.refuseSet : ENOTTY);
        }
        g_driver.serialFlags = flags;
        return 0;
    }
    if (request == TIOCOUTQ && g_driver.hasQueue) {
        const int queued = QueuedNow();
        *static_cast<int*>(arg) = queued;
        const std::string event = queued > 0 ? "TIOCOUTQ>0" : "TIOCOUTQ=0";
        if (g_events.empty() || g_events.back() != event) {
            Record(event);  // a poll asks many times
        }
        return 0;
    }
    return std::nullopt;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    static auto* real = Real<int(int, unsigned long, void*)>("ioctl");
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    {
        const std::lock_guard<std::mutex> guard(g_mutex);
        if (IsPort(fd)) {
            if (const auto answer = DriverIoctl(request, arg)) {
                return *answer;
            }
        }
    }
    return real(fd, request, arg);
}

extern "C" int tcsetattr(int fd, int actions, const termios* settings) noexcept {
    static auto* real = Real<int(int, int, const termios*)>("tcsetattr");
    bool waits = false;
    {
        const std::lock_guard<std::mutex> guard(g_mutex);
        if (IsPort(fd)) {
            const char* how = actions == TCSANOW     ? "TCSANOW"
                              : actions == TCSADRAIN ? "TCSADRAIN"
                                                     : "TCSAFLUSH";
            Record(std::string("tcsetattr ") + how +
                   (cfgetospeed(settings) == B9600 ? " 9600" : " 115200"));
            waits = actions == TCSADRAIN && g_driver.chipStalls;
        }
    }
    // The driver's wait for its chip to send everything gives way to a signal, as close()'s.
    if (waits && poll(nullptr, 0, kDriverWaitMs) < 0 && errno == EINTR) {
        const std::lock_guard<std::mutex> guard(g_mutex);
        Record("tcsetattr cut short");
        return -1;
    }
    return real(fd, actions, settings);
}

extern "C" int tcdrain(int fd) {
    static auto* real = Real<int(int)>("tcdrain");
    {
        const std::lock_guard<std::mutex> guard(g_mutex);
        if (IsPort(fd)) {
            Record("tcdrain");  // which would wait with no limit
        }
    }
    return real(fd);
}

extern "C" int tcflush(int fd, int queue) noexcept {
    static auto* real = Real<int(int, int)>("tcflush");
    {
        const std::lock_guard<std::mutex> guard(g_mutex);
        if (IsPort(fd) && queue == TCOFLUSH) {
            Record("tcflush TCOFLUSH");
            g_driver.queued = g_driver.flushKeeps ? g_driver.queued : 0;
        }
    }
    return real(fd, queue);
}

// The kernel's close waits for queued output up to the port's closing wait, giving way to a
// signal; the driver then discards what is left.
extern "C" int close(int fd) {
    static auto* real = Real<int(int)>("close");
    bool waits = false;
    {
        const std::lock_guard<std::mutex> guard(g_mutex);
        if (IsPort(fd)) {
            Record("close");
            waits = QueuedNow() > 0;
        }
    }
    if (waits) {
        // The thread held up before the closing wait begins, whatever signals come meanwhile.
        for (const auto late = Clock::now() + std::chrono::milliseconds(g_driver.closeLateMs);
             Clock::now() < late;) {
            poll(nullptr, 0, 1);
        }
        const bool cutShort = poll(nullptr, 0, kDriverWaitMs) < 0 && errno == EINTR;
        const std::lock_guard<std::mutex> guard(g_mutex);
        Record(cutShort ? "close cut short" : "close waited");
        g_driver.queued = 0;
    }
    return real(fd);
}

namespace {

class PortClose : public ::testing::Test {
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
        struct stat st {};
        ASSERT_EQ(fstat(m_slave, &st), 0);
        Play([&](Driver& driver) {
            driver = Driver{};
            driver.port = st.st_rdev;
        });
    }
    void TearDown() override {
        Play([](Driver& driver) { driver = Driver{}; });
        portlock::SetLockDirectories({});
        CloseRawPty(m_master, m_slave);
    }

    template <typename Change>
    static void Play(Change change) {
        const std::lock_guard<std::mutex> guard(g_mutex);
        change(g_driver);
        g_events.clear();
    }
    static Driver Now() {
        const std::lock_guard<std::mutex> guard(g_mutex);
        return g_driver;
    }
    static std::vector<std::string> Events() {
        const std::lock_guard<std::mutex> guard(g_mutex);
        return g_events;
    }
    static long Index(const std::vector<std::string>& events, const std::string& event) {
        const auto at = std::find(events.begin(), events.end(), event);
        return at == events.end() ? -1 : static_cast<long>(at - events.begin());
    }
    std::unique_ptr<CSerial> OpenPort() {
        return std::make_unique<CSerial>(m_path.c_str(), 115200, 'N', 8, 1, true, true);
    }
    // The driver takes queued bytes: they leave at line speed from now, or never.
    static void DriverHolds(int bytes, bool drains) {
        const std::lock_guard<std::mutex> guard(g_mutex);
        g_driver.hasQueue = true;
        g_driver.queued = bytes;
        g_driver.drains = drains;
        g_driver.queuedSince = Clock::now();
    }
    // The ACK written before the close arrived at the far end, and the old speed is back.
    void ExpectAckDeliveredAndSpeedRestored() {
        std::uint8_t received = 0;
        pollfd in{m_master, POLLIN, 0};
        ASSERT_EQ(poll(&in, 1, 1000), 1);
        EXPECT_EQ(read(m_master, &received, 1), 1);
        EXPECT_EQ(received, 0x06);
        termios after{};
        ASSERT_EQ(tcgetattr(m_slave, &after), 0);
        EXPECT_EQ(cfgetospeed(&after), speed_t(B9600));
    }

    LogCapture m_log;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

TEST_F(PortClose, TheLastAckLeavesBeforeTheOldSpeedComesBack) {
    auto port = OpenPort();
    const std::uint8_t ack = 0x06;
    ASSERT_EQ(port->Write(&ack, 1, 1000), 1);
    // What a USB adapter's driver may still hold when the port is closed.
    DriverHolds(64, /*drains=*/true);
    ASSERT_TRUE(port->Close());

    const auto events = Events();
    const long emptied = Index(events, "TIOCOUTQ=0");
    // Only TCSADRAIN also waits for what a USB adapter's chip holds beyond that count.
    const long restored = Index(events, "tcsetattr TCSADRAIN 9600");
    ASSERT_NE(restored, -1) << ::testing::PrintToString(events);
    EXPECT_NE(emptied, -1) << "the queue was not waited for";
    EXPECT_LT(emptied, restored) << "the old speed came back while our bytes were queued";
    EXPECT_THAT(events, Not(Contains("tcflush TCOFLUSH"))) << "nothing was left to discard";
    EXPECT_EQ(events.back(), "close");
    ExpectAckDeliveredAndSpeedRestored();
    EXPECT_THAT(m_log.Lines(), IsEmpty());
}

// How long the close of a port whose output has not all left may take.
struct CloseCase {
    const char* name;
    bool drains;          // the 243 queued bytes leave at line speed; else the adapter stalls
    bool flushKeeps;      // the driver keeps what it has taken when output is discarded (USB)
    bool discards;        // what is left when the time is up is discarded
    bool chipStalls;      // the queue empties, but the chip behind it never sends what it holds
    const char* restore;  // how the old settings go back in the end
    int leastMs;          // the close takes at least this long: the bytes' time on the line
    int boundMs;          // their time on the line, the margin, and what close() may add
};

class CloseBound : public PortClose, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseBound, TheCloseEndsWithinItsBoundAndTheRestIsDiscarded) {
    const CloseCase& c = GetParam();
    auto port = OpenPort();
    if (!c.drains) {
        // The far end stops reading: a packet cannot go out whole.
        std::vector<std::uint8_t> packet(64 * 1024, 0x55);
        EXPECT_EQ(port->Write(packet.data(), static_cast<int>(packet.size()), 100), 0);
    }
    DriverHolds(243, c.drains);
    Play([&](Driver& driver) {
        driver.flushKeeps = c.flushKeeps;
        driver.chipStalls = c.chipStalls;
    });

    const auto start = Clock::now();
    ASSERT_TRUE(port->Close());
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();

    EXPECT_GE(tookMs, c.leastMs);
    EXPECT_LT(tookMs, c.boundMs + 300) << "a stalled adapter held the close";
    const auto events = Events();
    EXPECT_THAT(events, Not(Contains("tcdrain")));
    EXPECT_THAT(events, Not(Contains("close waited")));
    const std::string restore = std::string("tcsetattr ") + c.restore + " 9600";
    ASSERT_THAT(events, Contains(restore));
    const auto lastSet = std::find_if(events.rbegin(), events.rend(), [](const std::string& e) {
        return e.rfind("tcsetattr TCSA", 0) == 0;
    });
    EXPECT_EQ(*lastSet, restore);
    const long flushed = Index(events, "tcflush TCOFLUSH");
    EXPECT_EQ(flushed != -1, c.discards);
    EXPECT_LT(flushed, Index(events, restore));
    termios after{};
    ASSERT_EQ(tcgetattr(m_slave, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), speed_t(B9600));
}

INSTANTIATE_TEST_SUITE_P(
    Queues, CloseBound,
    ::testing::Values(
        CloseCase{"bytes_leave_in_time", true, false, false, false, "TCSADRAIN", 21, 21 + 100},
        CloseCase{"adapter_stalls", false, false, true, false, "TCSANOW", 21, 22 + 100},
        CloseCase{"usb_adapter_stalls", false, true, true, false, "TCSANOW", 21, 22 + 100 + 250},
        CloseCase{"usb_chip_stalls", true, false, false, true, "TCSANOW", 21 + 100, 22 + 100}),
    [](const auto& info) { return std::string(info.param.name); });

// The bound on close() is the alarm signal's: it must reach the closing thread however the
// signal came to the program, and also when it comes before the closing wait has begun.
struct AlarmCase {
    const char* name;
    bool blocked;  // the thread has the signal blocked, as inherited from the parent
    bool ignored;  // the signal is ignored, as inherited across exec
    int lateMs;    // close() begins its wait this long after the alarm was armed
};

class AlarmBound : public PortClose, public ::testing::WithParamInterface<AlarmCase> {};

TEST_P(AlarmBound, TheClosingWaitIsCutShort) {
    const AlarmCase& c = GetParam();
    auto port = OpenPort();
    std::vector<std::uint8_t> packet(64 * 1024, 0x55);  // the far end stops reading
    EXPECT_EQ(port->Write(packet.data(), static_cast<int>(packet.size()), 100), 0);
    DriverHolds(243, /*drains=*/false);
    Play([&](Driver& driver) {
        driver.flushKeeps = true;
        driver.closeLateMs = c.lateMs;
    });
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, ThreadAlarm::Signal());
    sigset_t maskBefore;
    pthread_sigmask(c.blocked ? SIG_BLOCK : SIG_SETMASK, c.blocked ? &alarm : nullptr, &maskBefore);
    struct sigaction before {};
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(ThreadAlarm::Signal(), c.ignored ? &ignore : nullptr, &before);

    const auto start = Clock::now();
    ASSERT_TRUE(port->Close());
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();

    sigaction(ThreadAlarm::Signal(), &before, nullptr);
    sigset_t maskAfter;
    pthread_sigmask(SIG_SETMASK, &maskBefore, &maskAfter);
    EXPECT_EQ(sigismember(&maskAfter, ThreadAlarm::Signal()), c.blocked ? 1 : 0) << "as it came";
    EXPECT_THAT(Events(), Contains("close cut short"));
    EXPECT_LT(tookMs, 22 + 100 + std::max(250, c.lateMs) + 300);
}

INSTANTIATE_TEST_SUITE_P(Signals, AlarmBound,
                         ::testing::Values(AlarmCase{"blocked", true, false, 0},
                                           AlarmCase{"ignored", false, true, 0},
                                           AlarmCase{"fired_before_the_wait", false, false, 400}),
                         [](const auto& info) { return std::string(info.param.name); });

// The low-latency flag, as drivers answer for it.
struct LatencyCase {
    const char* name;
    bool hasSerial;  // the driver keeps serial flags; else the pseudo-terminal's own answer
    bool lowBefore;  // the flag was on before we opened the port
    int refuseGet;   // errno for reading the flags, 0 when read
    int refuseSet;   // errno for changing them, 0 when changed
    bool lowWhileOpen;
    std::vector<std::string> calls;  // the calls for the flag, from open to close
};

class LowLatency : public PortClose, public ::testing::WithParamInterface<LatencyCase> {
protected:
    struct Run {
        std::vector<std::string> flagCalls;   // the calls for the flag
        std::vector<std::string> otherCalls;  // every other terminal call on the port
        bool lowWhileOpen = false;
    };
    // Opens, sends an ACK and closes.
    Run OpenAckClose() {
        Run run;
        auto port = OpenPort();
        run.lowWhileOpen = (Now().serialFlags & ASYNC_LOW_LATENCY) != 0;
        const std::uint8_t ack = 0x06;
        EXPECT_EQ(port->Write(&ack, 1, 1000), 1);
        port.reset();
        for (const std::string& event : Events()) {
            const bool flag = event.find("SERIAL") != std::string::npos;
            (flag ? run.flagCalls : run.otherCalls).push_back(event);
        }
        ExpectAckDeliveredAndSpeedRestored();
        return run;
    }
};

TEST_P(LowLatency, TurnedOnWhereOffAndPutBackRefusalsChangeNothing) {
    const LatencyCase& c = GetParam();
    const Run withoutFlag = OpenAckClose();  // the pseudo-terminal as it is
    Play([&](Driver& driver) {
        driver.hasSerial = c.hasSerial;
        driver.serialFlags = c.lowBefore ? ASYNC_LOW_LATENCY | ASYNC_SKIP_TEST : ASYNC_SKIP_TEST;
        driver.refuseGet = c.refuseGet;
        driver.refuseSet = c.refuseSet;
    });
    const Run run = OpenAckClose();

    EXPECT_EQ(run.lowWhileOpen, c.lowWhileOpen);
    EXPECT_EQ(run.flagCalls, c.calls);
    EXPECT_EQ(Now().serialFlags & ~ASYNC_LOW_LATENCY, ASYNC_SKIP_TEST) << "other flags kept";
    EXPECT_EQ((Now().serialFlags & ASYNC_LOW_LATENCY) != 0, c.lowBefore) << "put back";
    EXPECT_EQ(run.otherCalls, withoutFlag.otherCalls) << "the rest is as without the flag";
    EXPECT_THAT(m_log.Lines(), IsEmpty()) << "a refused flag is no failure";
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, LowLatency,
    ::testing::Values(
        LatencyCase{"off_turned_on_then_off",
                    true,
                    false,
                    0,
                    0,
                    true,
                    {"TIOCGSERIAL", "TIOCSSERIAL low_latency", "TIOCGSERIAL", "TIOCSSERIAL plain"}},
        LatencyCase{"already_on_left_alone", true, true, 0, 0, true, {"TIOCGSERIAL"}},
        LatencyCase{"change_refused",
                    true,
                    false,
                    0,
                    EPERM,
                    false,
                    {"TIOCGSERIAL", "TIOCSSERIAL low_latency"}},
        LatencyCase{"no_serial_flags_ENOTTY", true, false, ENOTTY, 0, false, {"TIOCGSERIAL"}},
        LatencyCase{"older_kernel_EINVAL", true, false, EINVAL, 0, false, {"TIOCGSERIAL"}},
        LatencyCase{"pseudo_terminal_itself", false, false, 0, 0, false, {"TIOCGSERIAL"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
