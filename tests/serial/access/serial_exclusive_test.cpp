// The port is ours alone: other processes holding the terminal, programs opening it after us,
// and the UUCP lock files serial programs share. Real pseudo-terminals and real processes.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cserial.h"
#include "log_capture.h"
#include "port_access.h"
#include "port_lock.h"
#include "raw_pty.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

std::string LockText(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

// A PID that no process has: a child that has already ended and been reaped.
pid_t DeadPid() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

// Another process that runs a step on the terminal, reports one number back and then waits
// until it is told to end; it keeps whatever the step left open meanwhile.
class ChildProcess {
public:
    ~ChildProcess() { End(); }

    // Starts the child; step runs in it and returns the number to report. False on failure.
    template <typename Step>
    bool Start(Step step) {
        if (pipe(m_report) != 0 || pipe(m_hold) != 0) {
            return false;
        }
        m_pid = fork();
        if (m_pid < 0) {
            return false;
        }
        if (m_pid == 0) {
            close(m_report[0]);
            close(m_hold[1]);
            const int result = step();
            [[maybe_unused]] const ssize_t sent = write(m_report[1], &result, sizeof result);
            char ignored = 0;
            [[maybe_unused]] const ssize_t got = read(m_hold[0], &ignored, 1);
            _exit(0);
        }
        close(m_report[1]);
        close(m_hold[0]);
        m_report[1] = m_hold[0] = -1;
        return true;
    }
    // The number the step returned; -1 when none came within 5 s.
    int Report() {
        int result = -1;
        pollfd in{m_report[0], POLLIN, 0};
        if (poll(&in, 1, 5000) != 1 || read(m_report[0], &result, sizeof result) != sizeof result) {
            return -1;
        }
        return result;
    }
    pid_t Pid() const { return m_pid; }
    // Tells the child to end and reaps it.
    void End() {
        for (int* fd : {&m_report[0], &m_report[1], &m_hold[0], &m_hold[1]}) {
            if (*fd >= 0) {
                close(*fd);
                *fd = -1;
            }
        }
        if (m_pid > 0) {
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    int m_report[2] = {-1, -1};
    int m_hold[2] = {-1, -1};
};

class ExclusivePort : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OpenRawPty(m_master, m_slave, m_path)) {
            GTEST_SKIP() << "no pseudo-terminal available";
        }
        m_lockDir = m_log.Dir() / "lock";
        fs::create_directories(m_lockDir);
        portlock::SetLockDirectories({m_lockDir});
        m_lockFile = m_lockDir / portlock::LockFileName(m_path);
    }
    void TearDown() override {
        portlock::SetLockDirectories({});
        CloseRawPty(m_master, m_slave);
    }

    std::unique_ptr<CSerial> OpenPort(int baudRate = 115200) {
        return std::make_unique<CSerial>(m_path.c_str(), baudRate, 'N', 8, 1, true, true);
    }
    // The open failure's line for an "in use" refusal, with who holds the port.
    std::string InUseLine(const std::string& holder) const {
        return "CSerial::Open - CreateFile(" + m_path + " [" + holder +
               "]) failed, GetLastError()==0x00000010";
    }
    // In a child: closes the test's ends of the terminal, so that only what the step opens
    // is held.
    void CloseInheritedEnds() const {
        close(m_master);
        close(m_slave);
    }
    std::vector<std::string> LockDirEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_lockDir)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    LogCapture m_log;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
    fs::path m_lockDir;
    fs::path m_lockFile;
};

TEST_F(ExclusivePort, APlainHolderOpenedFirstIsRefusedUntilItLetsGo) {
    ChildProcess holder;
    ASSERT_TRUE(holder.Start([&] {
        CloseInheritedEnds();
        return open(m_path.c_str(), O_RDWR | O_NOCTTY);  // no flock, no TIOCEXCL
    }));
    ASSERT_GE(holder.Report(), 0) << "the holder could not open the terminal";

    EXPECT_THROW(OpenPort(), int);
    EXPECT_THAT(m_log.Lines(),
                ElementsAre(InUseLine("held by PID " + std::to_string(holder.Pid()))));
    EXPECT_THAT(LockDirEntries(), IsEmpty()) << "no lock file is left by a refused open";
    // The console program's line names it by command too (a fork of this test's).
    std::string command = ReadFile("/proc/self/comm");
    command.pop_back();
    EXPECT_EQ(portaccess::WhyNotOpened(m_path),
              m_path + " is held by " + command + " (PID " + std::to_string(holder.Pid()) + ").");

    holder.End();
    EXPECT_NO_THROW(OpenPort());
    EXPECT_EQ(m_log.Lines().size(), 1u);
}

TEST_F(ExclusivePort, TheFarEndOfThePseudoTerminalIsNoHolder) {
    // Like the simulated scanner run as its own program: it has the master side, and keeps a
    // slave descriptor so that the line survives our close.
    ChildProcess farEnd;
    ASSERT_TRUE(farEnd.Start([] { return 0; }));
    ASSERT_EQ(farEnd.Report(), 0);
    EXPECT_NO_THROW(OpenPort());
    EXPECT_THAT(m_log.Lines(), IsEmpty());
}

TEST_F(ExclusivePort, ProgramsOpeningAfterUsAreRefusedUnlessRoot) {
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr) {
            GTEST_SKIP() << "running as root and there is no user nobody to open as";
        }
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        ASSERT_EQ(fchmod(m_slave, 0666), 0);  // so that only the exclusive use can refuse it
    }
    // The open of another program, made as an ordinary user: 0 or its errno.
    auto laterOpen = [&] {
        ChildProcess other;
        const bool started = other.Start([&] {
            if (getuid() != uid &&
                (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) {
                return -2;
            }
            return open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0 ? 0 : errno;
        });
        return started ? other.Report() : -1;
    };
    ASSERT_EQ(laterOpen(), 0) << "without our port open, the other program gets in";
    {
        auto port = OpenPort();
        EXPECT_EQ(laterOpen(), EBUSY);
    }
    EXPECT_EQ(laterOpen(), 0) << "and it gets in again once our port is closed";
    EXPECT_THAT(m_log.Lines(), IsEmpty());
}

TEST_F(ExclusivePort, TheLockFileIsTakenWhileOpenAndRemovedOnClose) {
    auto port = OpenPort();
    EXPECT_EQ(ReadFile(m_lockFile), LockText(getpid()));
    EXPECT_THAT(LockDirEntries(), ElementsAre(m_lockFile.filename().string()));
    // The same port cannot be opened twice, in this process either.
    EXPECT_THROW(OpenPort(), int);
    EXPECT_THAT(m_log.Lines(), ElementsAre(InUseLine("locked by PID " + std::to_string(getpid()) +
                                                     " in " + m_lockFile.string())));
    EXPECT_TRUE(port->Close());
    EXPECT_FALSE(fs::exists(m_lockFile)) << "Close gives up the lock, not only the destructor";
    EXPECT_THAT(LockDirEntries(), IsEmpty());
    EXPECT_NO_THROW(OpenPort());
}

TEST_F(ExclusivePort, AStaleLockOfADeadProcessIsRemovedAndTheOpenSucceeds) {
    WriteFile(m_lockFile, LockText(DeadPid()));
    auto port = OpenPort();
    EXPECT_EQ(ReadFile(m_lockFile), LockText(getpid())) << "the lock is ours now";
    EXPECT_THAT(m_log.Lines(), IsEmpty());
    port.reset();
    EXPECT_FALSE(fs::exists(m_lockFile));
}

TEST_F(ExclusivePort, ALiveLockRefusesAndStays) {
    ChildProcess owner;
    ASSERT_TRUE(owner.Start([] { return 0; }));
    ASSERT_EQ(owner.Report(), 0);
    // Another program's lock, in the short form some write it.
    const std::string theirs = std::to_string(owner.Pid()) + "\n";
    WriteFile(m_lockFile, theirs);

    EXPECT_THROW(OpenPort(), int);
    EXPECT_THAT(m_log.Lines(),
                ElementsAre(InUseLine("locked by PID " + std::to_string(owner.Pid()) + " in " +
                                      m_lockFile.string())));
    EXPECT_EQ(ReadFile(m_lockFile), theirs);
    int exclusive = -1;
    ASSERT_EQ(ioctl(m_slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the terminal was not touched";
}

TEST_F(ExclusivePort, ALockNamingNoProcessRefusesAndStays) {
    for (const std::string text : {"", "garbage\n", "   -12\n", "0\n"}) {
        WriteFile(m_lockFile, text);
        EXPECT_THROW(OpenPort(), int) << "lock text '" << text << "'";
        EXPECT_EQ(ReadFile(m_lockFile), text);
    }
    const auto lines = m_log.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], InUseLine("locked in " + m_lockFile.string()));
}

namespace {

// Whose lock refuses the port, and what the console program's line says of it.
struct LockOwnerCase {
    const char* name;
    bool namesAProcess;   // false: the lock file's text names none
    bool ownerHoldsLine;  // the owner has a serial line open (this terminal)
};

class LockOwner : public ExclusivePort, public ::testing::WithParamInterface<LockOwnerCase> {};

}  // namespace

// A refusing lock file is named with its process; where that process uses no serial port, its
// PID was given again after the program that made the lock ended, and the line says how to
// remove the file.
TEST_P(LockOwner, TheLineNamesTheLockFileItsProcessAndWhenStaleTheRemedy) {
    const LockOwnerCase& c = GetParam();
    ChildProcess owner;
    ASSERT_TRUE(owner.Start([&] {
        if (!c.ownerHoldsLine) {
            CloseInheritedEnds();
        }
        return 0;
    }));
    ASSERT_EQ(owner.Report(), 0);
    WriteFile(m_lockFile, c.namesAProcess ? LockText(owner.Pid()) : "garbage\n");
    EXPECT_THROW(OpenPort(), int);

    std::string command = ReadFile("/proc/self/comm");
    command.pop_back();
    const std::string process = command + " (PID " + std::to_string(owner.Pid()) + ")";
    std::string expected = m_path + " is locked by " + process + " in " + m_lockFile.string() + ".";
    if (!c.namesAProcess) {
        expected = m_path + " is locked by " + m_lockFile.string() +
                   ", which names no process: remove it by hand if no program uses the port.";
    } else if (!c.ownerHoldsLine) {
        expected += "\n" + process +
                    " uses no serial port: the program that made the lock has ended and its PID "
                    "has been given to another. The lock file can be removed: rm " +
                    m_lockFile.string();
    }
    EXPECT_EQ(portaccess::WhyNotOpened(m_path), expected);
}

INSTANTIATE_TEST_SUITE_P(Owners, LockOwner,
                         ::testing::Values(LockOwnerCase{"a_serial_program", true, true},
                                           LockOwnerCase{"a_reused_pid", true, false},
                                           LockOwnerCase{"no_process", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExclusivePort, AnOpenThatFailsHalfWayGivesUpTheLock) {
    EXPECT_THROW(OpenPort(12345), int);  // a speed the terminal does not have
    ASSERT_EQ(m_log.Lines().size(), 1u);
    EXPECT_THAT(m_log.Lines()[0], ::testing::StartsWith("CSerial::SetParams - SetCommState()"));
    EXPECT_THAT(LockDirEntries(), IsEmpty());
    EXPECT_NO_THROW(OpenPort()) << "nothing of the failed open is left holding the port";
}

TEST_F(ExclusivePort, ALockAnotherProgramTookOverIsNotRemovedOnClose) {
    auto port = OpenPort();
    const std::string theirs = LockText(getppid());
    WriteFile(m_lockFile, theirs);
    port.reset();
    EXPECT_EQ(ReadFile(m_lockFile), theirs);
}

TEST_F(ExclusivePort, WithoutAUsableLockDirectoryFlockStillRefusesASecondOpen) {
    portlock::SetLockDirectories({m_lockDir / "absent"});
    auto port = OpenPort();
    EXPECT_FALSE(fs::exists(m_lockDir / "absent"));
    EXPECT_THAT(LockDirEntries(), IsEmpty());
    EXPECT_THROW(OpenPort(), int);
    // Root passes TIOCEXCL and meets the flock (EWOULDBLOCK); others meet TIOCEXCL (EBUSY).
    char expected[128];
    std::snprintf(expected, sizeof expected,
                  "CSerial::Open - CreateFile(%s) failed, GetLastError()==0x%08X", m_path.c_str(),
                  geteuid() == 0 ? EWOULDBLOCK : EBUSY);
    EXPECT_THAT(m_log.Lines(), ElementsAre(expected));
}

TEST_F(ExclusivePort, ATerminalAnotherProgramMadeExclusiveIsRefusedAndKeepsItsFlag) {
    ASSERT_EQ(ioctl(m_slave, TIOCEXCL), 0);
    EXPECT_THROW(OpenPort(), int);
    EXPECT_THAT(m_log.Lines(), ElementsAre("CSerial::Open - CreateFile(" + m_path +
                                           ") failed, GetLastError()==0x00000010"));
    int exclusive = 0;
    ASSERT_EQ(ioctl(m_slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1) << "their exclusive use was not lifted by our refused open";
    EXPECT_THAT(LockDirEntries(), IsEmpty());
}

// How soon a lock path that is no lock file refuses the port. The sanitizer build makes the
// look through /proc and the throw several times slower; the bound is the plain build's.
#ifdef __SANITIZE_ADDRESS__
constexpr int kRefusalLimitMs = 300;
#else
constexpr int kRefusalLimitMs = 100;
#endif

// What a local user may leave at the lock path instead of a lock file.
enum class Squatter { Fifo, Directory, LinkToStaleLock, LinkToFifo };

class NonRegularLockPath : public ExclusivePort, public ::testing::WithParamInterface<Squatter> {
protected:
    // Puts the squatter at the lock path; the stale lock a link leads to would be removed
    // if it were followed.
    void Squat() {
        const fs::path aside = m_lockDir / "elsewhere";
        switch (GetParam()) {
            case Squatter::Fifo:
                ASSERT_EQ(mkfifo(m_lockFile.c_str(), 0644), 0);
                break;
            case Squatter::Directory:
                fs::create_directory(m_lockFile);
                break;
            case Squatter::LinkToStaleLock:
                WriteFile(aside, LockText(DeadPid()));
                fs::create_symlink(aside, m_lockFile);
                break;
            case Squatter::LinkToFifo:
                ASSERT_EQ(mkfifo(aside.c_str(), 0644), 0);
                fs::create_symlink(aside, m_lockFile);
                break;
        }
    }
};

TEST_P(NonRegularLockPath, RefusesThePortAtOnceAndLeavesItStanding) {
    Squat();
    const auto before = fs::symlink_status(m_lockFile).type();
    // On a thread of its own, so that an open that blocks cannot hang the test: it would be
    // let go by a writer opening the FIFO. The result is how many milliseconds the refused
    // open took, or -1 when the open was not refused.
    auto open = std::async(std::launch::async, [&] {
        const auto start = std::chrono::steady_clock::now();
        try {
            OpenPort();
            return -1;
        } catch (int) {
            return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
        }
    });
    if (open.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        for (const fs::path& fifo : {m_lockFile, m_lockDir / "elsewhere"}) {
            const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) {
                close(writer);
            }
        }
        open.wait();
        FAIL() << "the open blocked on the lock path";
    }
    const int tookMs = open.get();
    ASSERT_NE(tookMs, -1) << "the open was not refused";
    EXPECT_LT(tookMs, kRefusalLimitMs);
    EXPECT_THAT(m_log.Lines(), ElementsAre(InUseLine("locked in " + m_lockFile.string())));
    EXPECT_EQ(fs::symlink_status(m_lockFile).type(), before);
    if (GetParam() == Squatter::LinkToStaleLock) {
        EXPECT_TRUE(fs::exists(m_lockDir / "elsewhere")) << "a link is not followed";
    }
}

INSTANTIATE_TEST_SUITE_P(Squatters, NonRegularLockPath,
                         ::testing::Values(Squatter::Fifo, Squatter::Directory,
                                           Squatter::LinkToStaleLock, Squatter::LinkToFifo));

TEST_F(ExclusivePort, OurOwnLockSwappedForAFifoDoesNotHoldUpTheClose) {
    ChildProcess owner;
    ASSERT_TRUE(owner.Start([&] {
        auto port = OpenPort();
        fs::remove(m_lockFile);
        mkfifo(m_lockFile.c_str(), 0644);
        port.reset();
        return 1;
    }));
    const int closed = owner.Report();
    if (closed < 0) {
        kill(owner.Pid(), SIGKILL);
    }
    EXPECT_EQ(closed, 1) << "closing the port blocked on the FIFO";
    owner.End();
    EXPECT_EQ(fs::symlink_status(m_lockFile).type(), fs::file_type::fifo);
}

TEST_F(ExclusivePort, ALockNamingThisProcessThatItDoesNotHoldIsStale) {
    // Left by an earlier process that had our PID (a lock directory that outlived a boot).
    WriteFile(m_lockFile, LockText(getpid()));
    auto port = OpenPort();
    EXPECT_EQ(ReadFile(m_lockFile), LockText(getpid()));
    EXPECT_THAT(m_log.Lines(), IsEmpty());
    port.reset();
    EXPECT_FALSE(fs::exists(m_lockFile));
}

// The lock file's time against the start of the live process it names: what a wall clock
// set forward or back since the file was written makes of it.
struct LockTimeCase {
    const char* name;
    int secondsAfterStart;  // the lock file's mtime minus the process's start
};

class LockTime : public ExclusivePort, public ::testing::WithParamInterface<LockTimeCase> {};

TEST_P(LockTime, ALiveProcessKeepsItsLockWhateverTheFilesTime) {
    ChildProcess other;
    ASSERT_TRUE(other.Start([] { return 0; }));
    ASSERT_EQ(other.Report(), 0);  // started within the last moment
    WriteFile(m_lockFile, LockText(other.Pid()));
    const timespec at{time(nullptr) + GetParam().secondsAfterStart, 0};
    const timespec times[2] = {at, at};
    ASSERT_EQ(utimensat(AT_FDCWD, m_lockFile.c_str(), times, 0), 0);

    EXPECT_THROW(OpenPort(), int);
    EXPECT_EQ(ReadFile(m_lockFile), LockText(other.Pid()));
    EXPECT_THAT(m_log.Lines(),
                ElementsAre(InUseLine("locked by PID " + std::to_string(other.Pid()) + " in " +
                                      m_lockFile.string())));
}

INSTANTIATE_TEST_SUITE_P(LockTimes, LockTime,
                         ::testing::Values(LockTimeCase{"written_a_year_before", -365 * 86400},
                                           LockTimeCase{"written_ten_seconds_before", -10},
                                           LockTimeCase{"written_within_a_second", 0},
                                           LockTimeCase{"written_after_the_start", 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// Lock files are looked for in every lock directory, also in those no lock of ours can go to.
// Run as an ordinary user, for whom a directory's mode decides.
struct LockDirectoryCase {
    const char* name;
    bool firstWritable;  // ours goes to the first when it is; the second never is
    int lockIn;          // the directory (0 or 1) that holds the other program's lock; -1 none
    bool live;           // whether that lock's process lives
    int outcome;         // kRefused, kLocked or kUnlocked
};

constexpr int kRefused = 0;   // the device is refused
constexpr int kLocked = 1;    // granted, with our lock file
constexpr int kUnlocked = 2;  // granted without a lock file: none could be written

class LockDirectories : public ExclusivePort,
                        public ::testing::WithParamInterface<LockDirectoryCase> {};

TEST_P(LockDirectories, ALiveLockAnywhereRefusesTheDevice) {
    const LockDirectoryCase& c = GetParam();
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() == 0 && nobody == nullptr) {
        GTEST_SKIP() << "running as root and there is no user nobody to look as";
    }
    const bool root = geteuid() == 0;
    const std::vector<fs::path> directories = {m_lockDir / "first", m_lockDir / "second"};
    for (const auto& directory : directories) {
        fs::create_directory(directory);
    }
    // Writable again at the end, so that an ordinary user's test folder can be removed.
    struct Restore {
        const std::vector<fs::path>& directories;
        ~Restore() {
            for (const auto& directory : directories) {
                chmod(directory.c_str(), 0755);
            }
        }
    } restore{directories};
    ChildProcess owner;
    ASSERT_TRUE(owner.Start([] { return 0; }));
    ASSERT_EQ(owner.Report(), 0);
    const pid_t pid = c.live ? owner.Pid() : DeadPid();
    // The other program's lock is written before its directory is closed to us.
    if (c.lockIn >= 0) {
        WriteFile(directories[static_cast<std::size_t>(c.lockIn)] / m_lockFile.filename(),
                  LockText(pid));
    }
    for (std::size_t i = 0; i < directories.size(); ++i) {
        const bool writable = i == 0 && c.firstWritable;
        // Root's directories are not the ordinary user's to write to unless opened to all.
        ASSERT_EQ(chmod(directories[i].c_str(), writable ? 0777 : root ? 0755 : 0555), 0);
    }
    portlock::SetLockDirectories(directories);

    ChildProcess looker;
    ASSERT_TRUE(looker.Start([&] {
        if (root && (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
                     setuid(nobody->pw_uid) != 0)) {
            return -2;
        }
        const portlock::LockOutcome outcome = portlock::TakeLock(m_path);
        return outcome.refusal         ? (outcome.refusal->error == EBUSY ? kRefused : -3)
               : outcome.lock.IsHeld() ? kLocked
                                       : kUnlocked;
    }));
    EXPECT_EQ(looker.Report(), c.outcome);
    if (c.lockIn >= 0) {
        EXPECT_EQ(ReadFile(directories[static_cast<std::size_t>(c.lockIn)] / m_lockFile.filename()),
                  LockText(pid))
            << "a lock in a directory we may not write to stays";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Directories, LockDirectories,
    ::testing::Values(
        LockDirectoryCase{"ours_writable_a_live_lock_in_the_other", true, 1, true, kRefused},
        LockDirectoryCase{"none_writable_a_live_lock_in_the_first", false, 0, true, kRefused},
        LockDirectoryCase{"none_writable_a_live_lock_in_the_second", false, 1, true, kRefused},
        LockDirectoryCase{"none_writable_a_stale_lock", false, 1, false, kUnlocked},
        LockDirectoryCase{"none_writable_no_lock", false, -1, false, kUnlocked}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExclusivePort, AFasterOpenerThatReplacedTheStaleLockKeepsIt) {
    ChildProcess faster;
    ASSERT_TRUE(faster.Start([] { return 0; }));
    ASSERT_EQ(faster.Report(), 0);
    WriteFile(m_lockFile, LockText(DeadPid()));
    // Between our judging the lock stale and removing it, the other opener does both and
    // writes its own.
    const std::string theirs = LockText(faster.Pid());
    portlock::SetStaleLockHook([&] {
        fs::remove(m_lockFile);
        WriteFile(m_lockFile, theirs);
    });
    EXPECT_THROW(OpenPort(), int);
    portlock::SetStaleLockHook({});
    EXPECT_EQ(ReadFile(m_lockFile), theirs);
    EXPECT_THAT(m_log.Lines(),
                ElementsAre(InUseLine("locked by PID " + std::to_string(faster.Pid()) + " in " +
                                      m_lockFile.string())));
}

TEST_F(ExclusivePort, OpenersRacingOnOneStaleLockEndWithOneHolder) {
    constexpr int kOpeners = 4;
    for (int round = 0; round < 25; ++round) {
        WriteFile(m_lockFile, LockText(DeadPid()));
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        std::vector<std::unique_ptr<ChildProcess>> openers;
        for (int i = 0; i < kOpeners; ++i) {
            openers.push_back(std::make_unique<ChildProcess>());
            ASSERT_TRUE(openers.back()->Start([&] {
                close(go[1]);
                char ignored = 0;
                [[maybe_unused]] const ssize_t got = read(go[0], &ignored, 1);
                // Kept until the child ends, so that the others meet it.
                auto* outcome = new portlock::LockOutcome(portlock::TakeLock(m_path));
                return outcome->lock.IsHeld() ? 1 : 0;
            }));
        }
        close(go[0]);
        close(go[1]);  // all start at once
        int holders = 0;
        pid_t holder = -1;
        for (const auto& opener : openers) {
            const int held = opener->Report();
            ASSERT_GE(held, 0) << "round " << round;
            holders += held;
            holder = held == 1 ? opener->Pid() : holder;
        }
        ASSERT_EQ(holders, 1) << "round " << round;
        EXPECT_EQ(ReadFile(m_lockFile), LockText(holder)) << "round " << round;
        // The last one first: each child holds the pipes of those started before it.
        while (!openers.empty()) {
            openers.pop_back();
        }
        fs::remove(m_lockFile);
    }
}

TEST(LockFiles, NamesFollowTheDeviceBelowDev) {
    EXPECT_EQ(portlock::LockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
    EXPECT_EQ(portlock::LockFileName("/dev/pts/7"), "LCK..pts_7");
    EXPECT_EQ(portlock::LockFileName("/srv/devices/ttyS3"), "LCK..ttyS3");

    // A link (as a user's COM link or /dev/serial/by-id) locks the device it leads to.
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        GTEST_SKIP() << "no pseudo-terminal available";
    }
    LogCapture dir;
    fs::create_symlink(name, dir.Dir() / "com4");
    EXPECT_EQ(portlock::LockFileName((dir.Dir() / "com4").string()), portlock::LockFileName(name));
    close(master);
    close(slave);
}

TEST(LockFiles, OwnersAreReadFromTheUsualTextsOnly) {
    EXPECT_EQ(portlock::LockOwner("      4321\n"), 4321);
    EXPECT_EQ(portlock::LockOwner("4321"), 4321);
    EXPECT_EQ(portlock::LockOwner("  17  \n"), 17);
    for (const std::string text :
         {"", "\n", "abc\n", "12ab\n", "-5\n", "0\n", "1 2\n", "99999999999999999999\n"}) {
        EXPECT_EQ(portlock::LockOwner(text), std::nullopt) << "'" << text << "'";
    }
}

TEST(LockFiles, LivenessOfProcesses) {
    EXPECT_TRUE(portlock::ProcessExists(getpid()));
    EXPECT_TRUE(portlock::ProcessExists(1)) << "a process we may not signal still exists";
    EXPECT_FALSE(portlock::ProcessExists(DeadPid()));
    EXPECT_FALSE(portlock::ProcessExists(0));
    EXPECT_FALSE(portlock::ProcessExists(-1));
}

}  // namespace
