// tr520-cli itself, run as a child process against the simulated scanner on a pseudo-terminal
// published as a COM port. With TR_CLI_EXE set (the Windows stage) the same cases run the
// Windows program under wine, the simulator published in the wine prefix's dosdevices.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "cserial.h"
#include "dialog_templates.h"
#include "firmware_payload.h"
#include "port_lock.h"
#include "port_session.h"
#include "raw_pty.h"
#include "scanner_sim.h"

namespace fs = std::filesystem;
using Ms = std::chrono::milliseconds;

namespace {

// The program under test and where its COM ports are published.
struct Target {
    bool wine = false;
    std::vector<std::string> command;  // the program, or the wine runner, its prefix, the program
    fs::path linkDirectory;            // wine: the prefix's dosdevices; else a private one
    int comBase = 41;                  // the COM numbers the cases use: comBase to comBase + 5
};

const Target& TheTarget() {
    static const Target target = [] {
        Target t;
        const char* exe = std::getenv("TR_CLI_EXE");
        if (exe == nullptr || exe[0] == '\0') {
            t.command = {TR_CLI_PROGRAM};
            return t;
        }
        t.wine = true;
        const std::string prefix = std::getenv("TR_CLI_WINEPREFIX");
        t.command = {std::getenv("TR_CLI_WINE_RUN"), prefix, exe};
        t.linkDirectory = fs::path(prefix) / "dosdevices";
        if (const char* base = std::getenv("TR_CLI_COM_BASE")) {
            t.comBase = std::atoi(base);
        }
        return t;
    }();
    return target;
}

std::string CarriedVersion() {
    return VersionText(g_carriedFirmware.VersionByte());
}

// The open failure of TEST, which update runs first.
std::string OpenFailedText(int com) {
    return "Unable to open the port COM" + std::to_string(com) +
           ". Make sure that it actually\nexists and is not being used by any other program "
           "(e.g. a\nPDA program like Palm's HotSync).\n\nPlease retry from Step 2.";
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Reads the child's output until standard error holds text at least times times; false when
// the child ends or timeout passes first.
bool ErrShows(ChildProcess& child, const std::string& text, int times = 1, Ms timeout = Ms(60000)) {
    return child.WaitFor(
        [&](const std::string&, const std::string& err) { return CountOf(err, text) >= times; },
        timeout);
}

// Waits for the prompt-th "[y/N] " on the terminal whose master is given, then types there.
void Answer(ChildProcess& child, int master, int prompt, const char* typed) {
    ASSERT_TRUE(ErrShows(child, "[y/N] ", prompt, Ms(20000))) << child.Err();
    ASSERT_EQ(write(master, typed, std::strlen(typed)), static_cast<ssize_t>(std::strlen(typed)));
}

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

class CliEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("tr_cli_e2e_" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "absent");
        if (Cli().wine) {
            m_linkDir = Cli().linkDirectory;
            for (int offset = 0; offset <= 5; ++offset) {
                fs::remove(m_linkDir / ("com" + std::to_string(Com(offset))));
            }
            return;
        }
        m_linkDir = m_dir / "config" / "tr520-updater" / "ports";
        fs::create_directories(m_linkDir);
        // No COM number may lead to a real device of this machine: each of the fixed table's
        // gets a link to nothing.
        for (int com = 1; com <= 96; ++com) {
            MakeAbsent(com);
        }
    }
    void TearDown() override {
        // Whatever a case did, nothing reached a scanner that it did not expect.
        for (const auto& sim : m_sims) {
            sim->Stop();
            const auto summary = sim->GetSummary();
            EXPECT_EQ(summary.unexpectedBytes, 0) << scannersim::FormatSummary(summary);
        }
        m_sims.clear();
        if (Cli().wine) {
            for (int offset = 0; offset <= 5; ++offset) {
                fs::remove(m_linkDir / ("com" + std::to_string(Com(offset))));
            }
        }
        for (auto& [master, slave] : m_silent) {
            CloseRawPty(master, slave);
        }
        fs::remove_all(m_dir);
    }

    static const Target& Cli() { return TheTarget(); }
    static int Com(int offset) { return Cli().comBase + offset; }

    void MakeAbsent(int com) {
        const fs::path link = m_linkDir / ("com" + std::to_string(com));
        fs::remove(link);
        fs::create_symlink(m_dir / "absent" / ("com" + std::to_string(com)), link);
    }

    // A simulated scanner published as COM com.
    scannersim::ScannerSim& StartSim(scannersim::Options options, int com) {
        options.comNumber = com;
        options.linkDirectory = m_linkDir;
        options.replaceLink = true;
        auto sim = std::make_unique<scannersim::ScannerSim>(options);
        std::string error;
        EXPECT_TRUE(sim->Start(&error)) << error;
        m_sims.push_back(std::move(sim));
        return *m_sims.back();
    }

    // A line on which nothing is ever sent, published as COM com; returns its master side.
    int StartSilentPort(int com) {
        int master = -1;
        int slave = -1;
        std::string path;
        EXPECT_TRUE(OpenRawPty(master, slave, path));
        m_silent.emplace_back(master, slave);
        const fs::path link = m_linkDir / ("com" + std::to_string(com));
        fs::remove(link);
        fs::create_symlink(path, link);
        fcntl(master, F_SETFL, O_NONBLOCK);
        return master;
    }

    ChildOptions Options(const std::vector<std::string>& args) const {
        ChildOptions options;
        options.argv = Cli().command;
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.workingDirectory = m_dir.string();  // the serial log lands here
        if (!Cli().wine) {
            options.env = {"XDG_CONFIG_HOME=" + (m_dir / "config").string()};
        }
        return options;
    }

    // Runs the program with both outputs through pipes, where no carriage return and no escape
    // sequence may appear.
    CliRun RunCli(const std::vector<std::string>& args, Ms timeout = Ms(90000)) {
        ChildProcess child;
        EXPECT_TRUE(child.Start(Options(args)));
        CliRun run;
        run.code = child.Wait(timeout);
        run.out = child.Out();
        run.err = child.Err();
        for (const std::string* stream : {&run.out, &run.err}) {
            EXPECT_EQ(stream->find('\r'), std::string::npos) << *stream;
            EXPECT_EQ(stream->find('\x1b'), std::string::npos) << *stream;
        }
        return run;
    }

    static std::string Port(int com) { return "COM" + std::to_string(com); }

    fs::path m_dir;
    fs::path m_linkDir;

private:
    std::vector<std::unique_ptr<scannersim::ScannerSim>> m_sims;
    std::vector<std::pair<int, int>> m_silent;
};

// Whether something came from a silent port's far end, i.e. the program sent it.
bool SentTo(int master) {
    char byte = 0;
    return read(master, &byte, 1) > 0;
}

}  // namespace

TEST_F(CliEndToEnd, InfoNamesTheCarriedImage) {
    const auto length = static_cast<int>(fs::file_size(TR_FIRMWARE_IMAGE_PATH));
    const unsigned byte = TR_FIRMWARE_VERSION_VALUE & 0xFFu;
    char version[16];
    std::snprintf(version, sizeof version, "%u.%u0", (byte >> 4) & 7u, byte & 15u);
    const CliRun run = RunCli({"info"});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, std::string("Firmware version: ") + version +
                           "\nLength: " + std::to_string(length) +
                           " bytes\nPackets: " + std::to_string((length + 119) / 120) +
                           " (120 image bytes each)\nSHA-256: " TR_FIRMWARE_IMAGE_SHA256 "\n");
}

TEST_F(CliEndToEnd, PortsFindFindsTheScannerAmongSilentPorts) {
    const int silentA = StartSilentPort(Com(1));
    StartSim({}, Com(2));
    const int silentB = StartSilentPort(Com(3));
    const CliRun ports = RunCli({"ports"});
    EXPECT_EQ(ports.code, 0);
    ASSERT_NE(ports.out.find(Port(Com(2)) + ":"), std::string::npos) << ports.out;
    if (!Cli().wine) {
        EXPECT_EQ(CountOf(ports.out, "\n"), 3) << ports.out;
        EXPECT_EQ(CountOf(RunCli({"ports", "--all"}).out, "\n"), 256);
    }
    const CliRun find = RunCli({"ports", "--find"});
    EXPECT_EQ(find.code, 0) << find.err;
    EXPECT_EQ(find.out.rfind(Port(Com(2)) + ": ", 0), 0u) << find.out;
    EXPECT_EQ(CountOf(find.out, "\n"), 1) << find.out;
    EXPECT_FALSE(SentTo(silentA));
    EXPECT_FALSE(SentTo(silentB));

    const CliRun test = RunCli({"test", "--port", "auto"});
    EXPECT_EQ(test.code, 0) << test.out << test.err;
    EXPECT_NE(test.out.find("Scanner version: 1.00\n"), std::string::npos) << test.out;
}

TEST_F(CliEndToEnd, PortAutoRefusesWhenNoScannerAnswers) {
    StartSilentPort(Com(1));
    const CliRun test = RunCli({"test", "--port", "auto"});
    EXPECT_EQ(test.code, 2);
    EXPECT_TRUE(test.out.empty()) << test.out;
    EXPECT_NE(test.err.find("--port auto: no port where the scanner answers"), std::string::npos)
        << test.err;
}

TEST_F(CliEndToEnd, TestPrintsTheScannersVersionAndTheUtilitysMessage) {
    scannersim::Options none;
    none.versionDigits = "FF";
    StartSim(none, Com(0));
    const CliRun empty = RunCli({"test", "--port", Port(Com(0))});
    EXPECT_EQ(empty.code, 0);
    EXPECT_EQ(empty.out,
              "Scanner version: none\nThe scanner currently contains no CPU application "
              "code!\n\nThis update utility contains version " +
                  CarriedVersion() + ".\n");

    // The same version as the carried one: the question is shown, not asked, nothing started.
    scannersim::Options same;
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", g_carriedFirmware.VersionByte());
    same.versionDigits = digits;
    auto& sim = StartSim(same, Com(1));
    const CliRun question = RunCli({"test", "--port", std::to_string(Com(1))});
    EXPECT_EQ(question.code, 0);
    EXPECT_EQ(question.out.rfind("Scanner version: " + CarriedVersion() + "\n", 0), 0u)
        << question.out;
    EXPECT_TRUE(EndsWith(question.out, " ?\n")) << question.out;
    EXPECT_NE(question.out.find("the same as what your scanner"), std::string::npos);
    EXPECT_EQ(question.err.find("[y/N]"), std::string::npos);
    EXPECT_EQ(sim.GetSummary().startPackets, 0);
}

TEST_F(CliEndToEnd, UpdateWithYesWritesTheImageTheSimulatorConfirms) {
    scannersim::Options echoing;
    echoing.deviceLike = !Cli().wine;  // a line that echoes while its settings say so
    auto& sim = StartSim(echoing, Com(0));
    const CliRun run = RunCli({"update", "--yes", "--port", Port(Com(0))});
    EXPECT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_EQ(run.out.rfind(std::string(dialog_template::kStartupWarning) + "\n", 0), 0u);
    EXPECT_NE(run.out.find("Scanner version: 1.00\n"), std::string::npos);
    EXPECT_TRUE(EndsWith(run.out, TR_TEXT_COMPLETION "\n")) << run.out;
    // A plain progress line every 10 %, then the verdict wait.
    EXPECT_EQ(CountOf(run.err, "\nUpgrading CPU: "), 10) << run.err;
    EXPECT_NE(run.err.find("\nUpgrading CPU: 100 % ("), std::string::npos);
    EXPECT_TRUE(EndsWith(run.err, "Waiting for CPU approval\n")) << run.err;
    ASSERT_TRUE(sim.WaitFinished(Ms(5000)));
    const auto summary = sim.GetSummary();
    EXPECT_TRUE(summary.completeCorrectUpload) << scannersim::FormatSummary(summary);
    EXPECT_EQ(summary.verdictSent, std::optional<std::uint8_t>(0x04));
    EXPECT_EQ(summary.unexpectedBytes, 0) << "echoed back to the scanner";
    EXPECT_TRUE(summary.problems.empty());
}

TEST_F(CliEndToEnd, WithoutATerminalOrYesTheWarningCountsAsNo) {
    auto& sim = StartSim({}, Com(0));
    const CliRun run = RunCli({"update", "--port", Port(Com(0))});
    EXPECT_EQ(run.code, 6);
    EXPECT_EQ(run.out, std::string(dialog_template::kStartupWarning) + "\n");
    EXPECT_NE(run.err.find("(answered No"), std::string::npos) << run.err;
    EXPECT_EQ(sim.GetSummary().queriesAnswered, 0) << "the port was not even opened";
}

// With standard output in a file, the question's text reaches the terminal too: without it the
// user would answer a question of which he sees only "[y/N]".
TEST_F(CliEndToEnd, WithOutputInAFileTheQuestionStillReachesTheTerminal) {
    if (Cli().wine) {
        GTEST_SKIP() << "a pseudo-terminal is no Windows console";
    }
    int master = -1;
    int slave = -1;
    std::string path;
    ASSERT_TRUE(OpenRawPty(master, slave, path));
    auto& sim = StartSim({}, Com(0));
    ChildOptions options = Options({"update", "--port", Port(Com(0))});
    options.terminal = slave;
    options.outputFile = (m_dir / "out.txt").string();
    ChildProcess child;
    ASSERT_TRUE(child.Start(options, master));
    ASSERT_NO_FATAL_FAILURE(Answer(child, master, 1, "n\n"));
    EXPECT_EQ(child.Wait(Ms(20000)), 6);
    const std::string warning = dialog_template::kStartupWarning;
    EXPECT_EQ(child.Err().rfind(warning + "\n[y/N] ", 0), 0u) << child.Err();
    std::ifstream file(options.outputFile);
    std::stringstream written;
    written << file.rdbuf();
    EXPECT_EQ(written.str(), warning + "\n") << "the file keeps its text as before";
    EXPECT_EQ(sim.GetSummary().queriesAnswered, 0);
    CloseRawPty(master, slave);
}

TEST_F(CliEndToEnd, OnATerminalTheQuestionsAreAskedAndTheBarIsRedrawn) {
    if (Cli().wine) {
        GTEST_SKIP() << "a pseudo-terminal is no Windows console";
    }
    int master = -1;
    int slave = -1;
    std::string path;
    ASSERT_TRUE(OpenRawPty(master, slave, path));

    // Yes to the warning, No to the version question.
    scannersim::Options same;
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", g_carriedFirmware.VersionByte());
    same.versionDigits = digits;
    auto& declined = StartSim(same, Com(0));
    ChildOptions options = Options({"update", "--port", Port(Com(0))});
    options.terminal = slave;
    {
        ChildProcess child;
        ASSERT_TRUE(child.Start(options, master));
        Answer(child, master, 1, "y\n");
        Answer(child, master, 2, "n\n");
        EXPECT_EQ(child.Wait(Ms(30000)), 6) << child.Out() << child.Err();
        EXPECT_TRUE(EndsWith(child.Out(), " ?\n"));
        EXPECT_EQ(declined.GetSummary().startPackets, 0);
    }

    // Yes to the warning; the upload's bar is redrawn on one line of the terminal.
    scannersim::Options lineSpeed;
    lineSpeed.lineSpeed = true;
    auto& accepted = StartSim(lineSpeed, Com(1));
    options = Options({"update", "--port", Port(Com(1))});
    options.terminal = slave;
    ChildProcess child;
    ASSERT_TRUE(child.Start(options, master));
    Answer(child, master, 1, "yes\n");
    EXPECT_EQ(child.Wait(Ms(60000)), 0) << child.Out() << child.Err();
    EXPECT_TRUE(EndsWith(child.Out(), TR_TEXT_COMPLETION "\n"));
    EXPECT_EQ(child.Out().find('\r'), std::string::npos) << "standard output is a pipe";
    const std::string& terminal = child.Err();
    EXPECT_GE(CountOf(terminal, "\r["), 10) << terminal;
    EXPECT_NE(terminal.find("\r[##########] 100 % "), std::string::npos) << terminal;
    EXPECT_EQ(terminal.find("Upgrading CPU: "), std::string::npos) << "no plain lines there";
    EXPECT_EQ(terminal.find('\x1b'), std::string::npos);
    EXPECT_TRUE(accepted.WaitFinished(Ms(5000)));
    EXPECT_TRUE(accepted.GetSummary().completeCorrectUpload);
    CloseRawPty(master, slave);
}

TEST_F(CliEndToEnd, DevicePathsGoThroughTheSameChecks) {
    if (Cli().wine) {
        GTEST_SKIP() << "device paths are for Linux";
    }
    auto& sim = StartSim({}, Com(0));
    const CliRun test = RunCli({"test", "--port", sim.DevicePath()});
    EXPECT_EQ(test.code, 0) << test.out << test.err;
    EXPECT_NE(test.out.find("Scanner version: 1.00\n"), std::string::npos);
    const CliRun absent = RunCli({"test", "--port", "/dev/tr520-no-such-tty"});
    EXPECT_EQ(absent.code, 2);
    EXPECT_EQ(absent.out, OpenFailedText(1) + "\n");
    EXPECT_NE(absent.err.find("(the port above is /dev/tr520-no-such-tty)"), std::string::npos);
    // A terminal that is somebody's controlling terminal is refused like a held port.
    if (const char* tty = ttyname(STDIN_FILENO); tty != nullptr) {
        EXPECT_EQ(RunCli({"test", "--port", tty}).code, 2);
    }
}

namespace {

// Another process that holds a terminal under a name of its choosing, as any user may name a
// process, until it goes.
class NamedHolder {
public:
    NamedHolder(const std::string& device, int master, const char* name) {
        int ready[2];
        if (pipe(ready) != 0 || pipe(m_hold) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            close(master);  // the far end of the line is no holder
            const int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
            prctl(PR_SET_NAME, name);
            char ignored = fd >= 0 ? 1 : 0;
            [[maybe_unused]] const ssize_t told = write(ready[1], &ignored, 1);
            close(m_hold[1]);
            [[maybe_unused]] const ssize_t got = read(m_hold[0], &ignored, 1);
            _exit(0);
        }
        close(ready[1]);
        close(m_hold[0]);
        char opened = 0;
        m_ready = read(ready[0], &opened, 1) == 1 && opened == 1;
        close(ready[0]);
    }
    ~NamedHolder() {
        close(m_hold[1]);
        if (m_pid > 0) {
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool Ready() const { return m_ready; }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_hold[2] = {-1, -1};
    bool m_ready = false;
};

}  // namespace

// Text from the system, and a path as typed, reach the terminal and the log with their control
// bytes escaped: a process named to clear the screen and retitle the window, or to forge a
// line, holds the port.
TEST_F(CliEndToEnd, SystemTextReachesTheTerminalAndTheLogEscaped) {
    if (Cli().wine) {
        GTEST_SKIP() << "process names and device paths are Linux's";
    }
    const int master = StartSilentPort(Com(0));
    const std::string device = fs::read_symlink(m_linkDir / ("com" + std::to_string(Com(0))));
    for (const auto& [name, shown] :
         {std::pair{"a\x1b[2J\x1b]0;PWN\a", "a\\x1B[2J\\x1B]0;PWN\\x07"},
          std::pair{"a\nFORGED LINE", "a\\x0AFORGED LINE"}}) {
        SCOPED_TRACE(shown);
        NamedHolder holder(device, master, name);
        ASSERT_TRUE(holder.Ready());
        const CliRun run = RunCli({"test", "--port", Port(Com(0))});
        EXPECT_EQ(run.code, 2);
        EXPECT_EQ(run.out, OpenFailedText(Com(0)) + "\n");
        EXPECT_EQ(run.err, device + " is held by " + shown + " (PID " +
                               std::to_string(holder.Pid()) + ").\n");
    }

    const CliRun typed = RunCli({"test", "--port", "/nonexistent/a\x1b[2J\nb"});
    EXPECT_EQ(typed.code, 2);
    EXPECT_EQ(typed.err, "(the port above is /nonexistent/a\\x1B[2J\\x0Ab)\n");
    std::ifstream log(m_dir / "TR-520_521.log");
    std::stringstream lines;
    lines << log.rdbuf();
    EXPECT_TRUE(EndsWith(lines.str(),
                         "\nCSerial::Open - CreateFile(/nonexistent/a\\x1B[2J\\x0Ab) failed, "
                         "GetLastError()==0x00000002\n"))
        << lines.str();
}

namespace {

// A device the user may not open, as the kernel leaves a cable to a user outside its group.
struct NoAccessCase {
    const char* name;
    const char* group;   // the node's group
    mode_t mode;         // and mode
    const char* advice;  // what follows "You may not open DEVICE "
};

class NoAccess : public CliEndToEnd, public ::testing::WithParamInterface<NoAccessCase> {
protected:
    // Runs the program as nobody, without supplementary groups; the reason when it cannot.
    std::string RunAsNobody(const std::vector<std::string>& args, CliRun& run) {
        const passwd* nobody = getpwnam("nobody");
        if (geteuid() != 0 || nobody == nullptr || access(kSetpriv, X_OK) != 0) {
            return "needs root, a user nobody and setpriv (util-linux) to run as another user";
        }
        ChildOptions options = Options(args);
        options.argv.insert(options.argv.begin(),
                            {kSetpriv, "--reuid=" + std::to_string(nobody->pw_uid),
                             "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"});
        ChildProcess child;
        if (!child.Start(options)) {
            return "cannot start setpriv";
        }
        run.code = child.Wait(Ms(30000));
        run.out = child.Out();
        run.err = child.Err();
        if (run.code == 126 || run.code == 127) {
            return "nobody cannot run " + Cli().command[0] + ": " + run.err;
        }
        return {};
    }

    static constexpr const char* kSetpriv = "/usr/bin/setpriv";
};

}  // namespace

TEST_P(NoAccess, TheCliSaysWhyAndHowToFixIt) {
    const NoAccessCase& c = GetParam();
    if (Cli().wine) {
        GTEST_SKIP() << "device permissions are Linux's";
    }
    const group* owners = getgrnam(c.group);
    if (owners == nullptr) {
        GTEST_SKIP() << "no group " << c.group << " on this machine";
    }
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can give the device to root and run the program as nobody";
    }
    int master = -1;
    int slave = -1;
    std::string path;
    ASSERT_TRUE(OpenRawPty(master, slave, path));
    ASSERT_EQ(fchown(slave, 0, owners->gr_gid), 0);
    ASSERT_EQ(fchmod(slave, c.mode), 0);
    close(slave);  // the line lives on through its master
    const fs::path link = m_linkDir / ("com" + std::to_string(Com(0)));
    fs::remove(link);
    fs::create_symlink(path, link);
    fs::permissions(m_dir, fs::perms::all);  // the serial log is written there

    CliRun test;
    if (const std::string reason = RunAsNobody({"test", "--port", Port(Com(0))}, test);
        !reason.empty()) {
        close(master);
        GTEST_SKIP() << reason;
    }
    EXPECT_EQ(test.code, 2);
    EXPECT_EQ(test.out, OpenFailedText(Com(0)) + "\n") << "the message is the dialog's";
    EXPECT_EQ(test.err, "You may not open " + path + " " + c.advice + "\n");

    CliRun ports;
    ASSERT_EQ(RunAsNobody({"ports"}, ports), "");
    EXPECT_EQ(ports.code, 0);
    EXPECT_NE(ports.out.find(Port(Com(0)) + ": " + path + " (per-user link " + link.string() +
                             "), present, but you may not open it " + c.advice + "\n"),
              std::string::npos)
        << ports.out;

    // Looking for the scanner says the same of the port, and never that none answers there.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"ports", "--find"}, {"test", "--port", "auto"}}) {
        CliRun find;
        ASSERT_EQ(RunAsNobody(args, find), "");
        EXPECT_EQ(find.code, 2) << args[0];
        EXPECT_NE(find.err.find("You may not open " + path + " " + c.advice + "\n"),
                  std::string::npos)
            << find.err;
        EXPECT_EQ(find.err.find("o port where"), std::string::npos) << find.err;
    }
    close(master);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, NoAccess,
    ::testing::Values(NoAccessCase{"owner_only", "root", 0600,
                                   "(group root, mode crw-------): only root may open it."},
                      NoAccessCase{"outside_its_group", "dialout", 0660,
                                   "(group dialout, mode crw-rw----): sudo usermod -aG dialout "
                                   "$USER, then log out and in again."}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

// One failure of update and the exit code it must end with.
struct FailureRow {
    const char* name;
    bool simulator;  // false: nothing behind the port
    std::function<void(scannersim::Options&)> configure;
    int exitCode;
    std::function<std::string(int com)> message;  // the last message on standard output
};

std::function<std::string(int)> Text(std::string text) {
    return [text](int) { return text; };
}

const FailureRow kFailureRows[] = {
    {"AbsentPort", false, {}, 2, OpenFailedText},
    {"NoReadyByte", true, [](scannersim::Options& o) { o.sendReady = false; }, 3,
     Text("No data from the scanner. Please retry from step 1")},
    {"NoReply", true, [](scannersim::Options& o) { o.answerQuery = false; }, 3,
     Text("Unable to communicate with the scanner.\n\nPlease retry from Step 1.")},
    {"NoGoAhead", true, [](scannersim::Options& o) { o.sendGoAhead = false; }, 3,
     Text("No data from the scanner. Please retry from step 4")},
    {"NakThreeTimes", true,
     [](scannersim::Options& o) {
         o.nak.packet = 2;
         o.nak.times = 3;
     },
     4, Text("Scanner not approving the upgrade packets")},
    {"Rejected", true, [](scannersim::Options& o) { o.verdict = scannersim::VerdictMode::Reject; },
     4, Text("Scanner rejected the upgrade!")},
    {"UnknownVerdict", true,
     [](scannersim::Options& o) { o.verdict = scannersim::VerdictMode::Unknown; }, 4,
     Text("Scanner unknown response!")},
    {"NoVerdict", true,
     [](scannersim::Options& o) { o.verdict = scannersim::VerdictMode::Silence; }, 3,
     Text("Scanner response timeout!")},
    // The simulator acknowledges packet 100 and hangs up: the line is gone while the next
    // packet is written, so the write fails.
    {"HangUpMidUpload", true, [](scannersim::Options& o) { o.hangUpAfterPackets = 100; }, 5,
     Text("Unable to send data to the scanner. Please retry from step 4")},
};

void PrintTo(const FailureRow& row, std::ostream* os) {
    *os << row.name;
}

class CliExitCode : public CliEndToEnd, public ::testing::WithParamInterface<FailureRow> {};

}  // namespace

TEST_P(CliExitCode, UpdateEndsWithTheCodeOfItsFailure) {
    const FailureRow& row = GetParam();
    const int com = Com(row.simulator ? 0 : 5);
    scannersim::Options options;
    if (row.configure) {
        row.configure(options);
    }
    scannersim::ScannerSim* sim = row.simulator ? &StartSim(options, com) : nullptr;
    const CliRun run = RunCli({"update", "--yes", "--port", Port(com)});
    EXPECT_EQ(run.code, row.exitCode) << run.out << run.err;
    EXPECT_TRUE(EndsWith(run.out, "\n" + row.message(com) + "\n")) << run.out;
    EXPECT_EQ(run.out.find(TR_TEXT_COMPLETION), std::string::npos);
    if (sim != nullptr) {
        EXPECT_NE(sim->GetSummary().verdictSent, std::optional<std::uint8_t>(0x04));
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, CliExitCode, ::testing::ValuesIn(kFailureRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A cable pulled at 30 % of the upload, while the utility waits for the answer to a packet:
// the same message and exit code as the silence it was taken for, one line more on standard
// error, and no wait of a whole answer window.
TEST_F(CliEndToEnd, APulledCableIsToldBesideTheTimeOut) {
    scannersim::Options options;
    options.hangUpAfterBytes = 10 + 150 * 243;  // the start packet and 150 data packets
    auto& sim = StartSim(options, Com(0));
    const CliRun run = RunCli({"update", "--yes", "--port", Port(Com(0))});
    EXPECT_EQ(run.code, 3) << run.out << run.err;
    EXPECT_TRUE(EndsWith(run.out, "\nTimed out waiting for response from scanner\n")) << run.out;
    EXPECT_EQ(CountOf(run.err,
                      "The scanner's port went away: the device was removed or its cable "
                      "pulled.\n"),
              1)
        << run.err;
    EXPECT_TRUE(sim.GetSummary().hungUp);
}

namespace {

struct LineState {
    bool valid = false;
    termios attributes{};
};

LineState ReadLineState(const std::string& device) {
    LineState state;
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        state.valid = tcgetattr(fd, &state.attributes) == 0;
        close(fd);
    }
    return state;
}

}  // namespace

TEST_F(CliEndToEnd, CtrlCTwiceMidUploadEndsWith130AndFreesThePort) {
    scannersim::Options options;
    options.lineSpeed = true;  // an upload of some seconds, to press Ctrl+C in
    auto& sim = StartSim(options, Com(0));
    const std::string device = sim.DevicePath();
    const LineState before = ReadLineState(device);
    ChildProcess child;
    ASSERT_TRUE(child.Start(Options({"update", "--yes", "--port", Port(Com(0))})));
    ASSERT_TRUE(ErrShows(child, "Upgrading CPU: 20 %")) << child.Err();

    // While the port is open, the lock file names the program (Linux).
    const auto lockDirs = portlock::LockDirectories();
    fs::path lockFile;
    for (const auto& dir : lockDirs) {
        if (fs::is_directory(dir) && access(dir.c_str(), W_OK) == 0) {
            lockFile = dir / portlock::LockFileName(device);
            break;
        }
    }
    if (!Cli().wine && !lockFile.empty()) {
        EXPECT_TRUE(fs::exists(lockFile)) << lockFile;
    }

    child.Signal(SIGINT);
    ASSERT_TRUE(ErrShows(child, kUploadUnderWayNotice)) << child.Err();
    // The upload goes on after the first press.
    const int lines = CountOf(child.Err(), "Upgrading CPU: ");
    ASSERT_TRUE(ErrShows(child, "Upgrading CPU: ", lines + 1)) << child.Err();
    child.Signal(SIGINT);
    // On Linux it dies of SIGINT once the port is closed, so that a calling shell stops too
    // (and sees 130); the Windows program ends with 130.
    EXPECT_EQ(child.Wait(Ms(30000)), Cli().wine ? 130 : 256 + SIGINT) << child.Out() << child.Err();
    EXPECT_NE(child.Err().find(kUploadAbandonedNotice), std::string::npos);
    EXPECT_EQ(child.Out().find(TR_TEXT_COMPLETION), std::string::npos);
    EXPECT_EQ(child.Err().find('\r'), std::string::npos);

    // The port is free again: the lock file is gone, the line settings are back, and the next
    // open succeeds.
    if (!Cli().wine) {
        if (!lockFile.empty()) {
            EXPECT_FALSE(fs::exists(lockFile)) << lockFile;
        }
        const LineState after = ReadLineState(device);
        ASSERT_TRUE(before.valid && after.valid);
        EXPECT_EQ(after.attributes.c_cflag, before.attributes.c_cflag);
        EXPECT_EQ(after.attributes.c_iflag, before.attributes.c_iflag);
        EXPECT_EQ(after.attributes.c_lflag, before.attributes.c_lflag);
        EXPECT_EQ(cfgetospeed(&after.attributes), cfgetospeed(&before.attributes));
    }
    EXPECT_NO_THROW(CSerial(device.c_str(), 115200, 'N', 8, 1, true, true));
    const auto summary = sim.GetSummary();
    EXPECT_GT(summary.packets, 0);
    EXPECT_FALSE(summary.completeCorrectUpload);
}

TEST_F(CliEndToEnd, AnEndRequestMidUploadClosesThePortAtOnce) {
    if (Cli().wine) {
        GTEST_SKIP() << "SIGTERM and SIGHUP are Linux's end requests";
    }
    scannersim::Options options;
    options.lineSpeed = true;
    int com = Com(0);
    for (const int signalNumber : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signalNumber == SIGTERM ? "SIGTERM" : "SIGHUP");
        const std::string device = StartSim(options, com).DevicePath();
        ChildProcess child;
        ASSERT_TRUE(child.Start(Options({"update", "--yes", "--port", Port(com++)})));
        ASSERT_TRUE(child.WaitFor(
            [](const std::string&, const std::string& err) {
                return err.find("Upgrading CPU: 10 %") != std::string::npos;
            },
            Ms(60000)))
            << child.Err();
        child.Signal(signalNumber);
        EXPECT_EQ(child.Wait(Ms(30000)), 130) << child.Err();
        EXPECT_EQ(child.Err().find(kUploadUnderWayNotice), std::string::npos);
        EXPECT_NE(child.Err().find(kUploadAbandonedNotice), std::string::npos);
        EXPECT_NO_THROW(CSerial(device.c_str(), 115200, 'N', 8, 1, true, true));
    }
}

// Started with SIGINT and SIGHUP ignored (`trap '' INT HUP; exec tr520-cli ...`, nohup), the
// program leaves them ignored, as the shell that ignored them means.
TEST_F(CliEndToEnd, SignalsIgnoredAtTheStartStayIgnored) {
    if (Cli().wine) {
        GTEST_SKIP() << "signal dispositions are Linux's";
    }
    StartSilentPort(Com(0));  // TEST waits its 2 s for a ready byte there
    ChildOptions options = Options({"test", "--port", Port(Com(0))});
    options.interruptsIgnored = true;
    ChildProcess child;
    ASSERT_TRUE(child.Start(options));
    for (int i = 0; i < 30; ++i) {
        std::this_thread::sleep_for(Ms(50));
        child.Signal(SIGINT);
        child.Signal(SIGHUP);
    }
    EXPECT_EQ(child.Wait(Ms(10000)), 3) << child.Err();
    EXPECT_TRUE(EndsWith(child.Out(), "No data from the scanner. Please retry from step 1\n"))
        << child.Out();
}

// Started with standard error closed (`2>&-`): the first port opened would take descriptor 2,
// and the notice of a Ctrl+C press would go down the line to the scanner between two packets.
TEST_F(CliEndToEnd, AClosedStandardErrorNeverBecomesThePort) {
    if (Cli().wine) {
        GTEST_SKIP() << "descriptor numbers are the Linux program's";
    }
    scannersim::Options options;
    options.lineSpeed = true;  // an upload of some seconds, to press Ctrl+C in
    auto& sim = StartSim(options, Com(0));
    ChildOptions child = Options({"update", "--yes", "--port", Port(Com(0))});
    child.closeStandardError = true;
    ChildProcess process;
    ASSERT_TRUE(process.Start(child));
    const auto deadline = std::chrono::steady_clock::now() + Ms(30000);
    while (sim.GetSummary().packets < 100 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(Ms(20));
    }
    ASSERT_GE(sim.GetSummary().packets, 100);
    // Mid-upload descriptor 2 is /dev/null, not the port nor its lock file.
    std::error_code error;
    const fs::path standardError = "/proc/" + std::to_string(process.Pid()) + "/fd/2";
    EXPECT_EQ(fs::read_symlink(standardError, error), "/dev/null") << error.message();
    process.Signal(SIGINT);  // one press: the notice, and the upload goes on
    EXPECT_EQ(process.Wait(Ms(60000)), 0) << process.Out();
    EXPECT_TRUE(EndsWith(process.Out(), TR_TEXT_COMPLETION "\n")) << process.Out();
    ASSERT_TRUE(sim.WaitFinished(Ms(5000)));
    const auto summary = sim.GetSummary();
    EXPECT_TRUE(summary.completeCorrectUpload) << scannersim::FormatSummary(summary);
    EXPECT_EQ(summary.corruptPackets, 0);
    EXPECT_TRUE(summary.problems.empty()) << scannersim::FormatSummary(summary);
}

namespace {

// The five cells of the table's line that starts with first, or none. The device, which may
// hold blanks of its own ("wine link dosdevices/com41"), is what stands between the port and
// the last three.
std::vector<std::string> TableRow(const std::string& out, const std::string& first) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> cells;
        for (std::string word; words >> word;) {
            cells.push_back(word);
        }
        if (cells.size() < 5 || cells[0] != first) {
            continue;
        }
        std::string device = cells[1];
        for (std::size_t i = 2; i + 3 < cells.size(); ++i) {
            device += " " + cells[i];
        }
        const std::size_t n = cells.size();
        return {cells[0], device, cells[n - 3], cells[n - 2], cells[n - 1]};
    }
    return {};
}

bool IsDuration(const std::string& text) {
    return text.size() >= 4 && text[text.size() - 3] == ':' &&
           text.find_first_not_of("0123456789:") == std::string::npos;
}

}  // namespace

// Three scanners at once, one refusing the image with CAN: each gets the whole image byte for
// byte, the table shows every port, and the run ends with the refusal's code.
TEST_F(CliEndToEnd, ThreeScannersAtOnceOneRefusing) {
    scannersim::Options refusing;
    refusing.verdict = scannersim::VerdictMode::Reject;
    std::vector<scannersim::ScannerSim*> sims{&StartSim({}, Com(0)), &StartSim(refusing, Com(1)),
                                              &StartSim({}, Com(2))};
    const CliRun run = RunCli({"update", "--yes", "--port", Port(Com(0)), "--port",
                               std::to_string(Com(1)), "--port", Port(Com(2))});
    EXPECT_EQ(run.code, 4) << run.out << run.err;
    const std::vector<std::string> outcomes{"accepted", "rejected", "accepted"};
    for (std::size_t i = 0; i < sims.size(); ++i) {
        SCOPED_TRACE(Port(Com(static_cast<int>(i))));
        ASSERT_TRUE(sims[i]->WaitFinished(Ms(5000)));
        const auto summary = sims[i]->GetSummary();
        EXPECT_TRUE(summary.imageComplete && summary.imageCorrect)
            << scannersim::FormatSummary(summary);
        EXPECT_EQ(summary.packetsReceived, summary.packets) << "no packet sent twice";
        EXPECT_TRUE(summary.problems.empty()) << scannersim::FormatSummary(summary);
        const std::string port = Port(Com(static_cast<int>(i)));
        const auto row = TableRow(run.out, port);
        ASSERT_EQ(row.size(), 5u) << run.out;
        if (!Cli().wine) {
            EXPECT_EQ(row[1], sims[i]->DevicePath());
        }
        EXPECT_EQ(row[2], "1.00");
        EXPECT_EQ(row[3], outcomes[i]);
        EXPECT_TRUE(IsDuration(row[4])) << row[4];
        EXPECT_NE(run.out.find(port + ": This update utility contains version"), std::string::npos);
        EXPECT_NE(run.err.find(port + ": Upgrading CPU: 100 % ("), std::string::npos) << run.err;
    }
    EXPECT_EQ(TableRow(run.out, "Port"),
              (std::vector<std::string>{"Port", "Device", "Before", "Outcome", "Time"}))
        << run.out;
    EXPECT_NE(run.out.find(Port(Com(1)) + ": Scanner rejected the upgrade!\n"), std::string::npos);
    EXPECT_EQ(CountOf(run.out, ": Operation complete. You may exit"), 2) << run.out;
}

// --json: one document on standard output and nothing else, one entry per port: here the
// success and two failures, a refusal and a port that cannot be opened.
TEST_F(CliEndToEnd, JsonGivesOneDocumentWithAnEntryPerPort) {
    scannersim::Options refusing;
    refusing.verdict = scannersim::VerdictMode::Reject;
    auto& good = StartSim({}, Com(0));
    StartSim(refusing, Com(1));
    const int absent = Com(5);  // nothing behind it
    const CliRun run = RunCli({"--json", "update", "--yes", "--quiet", "--port", Port(Com(0)),
                               "--port", Port(Com(1)), "--port", Port(absent)});
    EXPECT_EQ(run.code, 4) << run.err;
    EXPECT_EQ(run.err.find("not held off"), std::string::npos) << "--quiet silences every note";
    nlohmann::json document;
    ASSERT_NO_THROW(document = nlohmann::json::parse(run.out)) << run.out;
    EXPECT_EQ(document["command"], "update");
    EXPECT_EQ(document["exit_code"], 4);
    EXPECT_EQ(document["messages"],
              nlohmann::json::array({std::string(dialog_template::kStartupWarning)}));
    const auto& ports = document["ports"];
    ASSERT_EQ(ports.size(), 3u) << run.out;

    const auto& success = ports[0];
    EXPECT_EQ(success["port"], Port(Com(0)));
    if (!Cli().wine) {
        EXPECT_EQ(success["device"], good.DevicePath());
    }
    EXPECT_EQ(success["exit_code"], 0);
    EXPECT_EQ(success["outcome"], "accepted");
    EXPECT_EQ(success["scanner_version"], "1.00");
    EXPECT_EQ(success["scanner_version_byte"], 16);
    EXPECT_EQ(success["test"]["outcome"], "upload_offered");
    EXPECT_EQ(success["update"]["outcome"], "accepted");
    const long length = static_cast<long>(g_carriedFirmware.imageLength);
    const long packets = (length + 119) / 120;
    EXPECT_EQ(success["update"]["image_bytes_accepted"], length);
    EXPECT_EQ(success["update"]["packets_sent"], packets);
    EXPECT_EQ(success["update"]["resends"], 0);
    // Every image byte as two hex digits, and STX, ETX and checksum around each packet, after
    // the 10-byte start packet.
    EXPECT_EQ(success["update"]["bytes_sent"], 10 + 2 * length + 3 * packets);
    EXPECT_GT(success["update"]["ms"], 0);
    EXPECT_EQ(success["messages"].back(), TR_TEXT_COMPLETION);

    const auto& refused = ports[1];
    EXPECT_EQ(refused["exit_code"], 4);
    EXPECT_EQ(refused["outcome"], "rejected");
    EXPECT_EQ(refused["update"]["outcome"], "rejected");
    EXPECT_EQ(refused["messages"].back(), "Scanner rejected the upgrade!");

    const auto& notOpened = ports[2];
    EXPECT_EQ(notOpened["port"], Port(absent));
    EXPECT_EQ(notOpened["exit_code"], 2);
    EXPECT_EQ(notOpened["outcome"], "port_not_opened");
    EXPECT_TRUE(notOpened["scanner_version"].is_null());
    EXPECT_TRUE(notOpened["update"].is_null());
    EXPECT_EQ(notOpened["messages"], nlohmann::json::array({OpenFailedText(absent)}));
}

// With --json standard output is one document whatever the command line: help and version
// too, their text in it.
TEST_F(CliEndToEnd, JsonHoldsOneDocumentWhateverTheCommandLine) {
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* member;
        const char* holds;
    };
    for (const Case& c : {Case{{"--json", "--help"}, 0, "help", "Exit codes:"},
                          Case{{"--version", "--json"}, 0, "version", "tr520-cli 0.1.1\n"},
                          Case{{"--json", "ports", "--help"}, 0, "help", "--find"},
                          Case{{"--json", "info", "--frobnicate"}, 1, "error", "--frobnicate"}}) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const CliRun run = RunCli(c.args);
        EXPECT_EQ(run.code, c.code);
        nlohmann::json document;
        ASSERT_NO_THROW(document = nlohmann::json::parse(run.out)) << run.out;
        EXPECT_TRUE(document["command"].is_null());
        EXPECT_EQ(document["exit_code"], c.code);
        ASSERT_TRUE(document[c.member].is_string()) << run.out;
        EXPECT_NE(document[c.member].get<std::string>().find(c.holds), std::string::npos);
    }
}

// Ctrl+C with two uploads under way: the first press warns once, the second abandons both,
// each through its own clean-up, and the program ends as interrupted.
TEST_F(CliEndToEnd, TheSecondCtrlCAbandonsEveryUpload) {
    scannersim::Options lineSpeed;
    lineSpeed.lineSpeed = true;
    std::vector<scannersim::ScannerSim*> sims{&StartSim(lineSpeed, Com(0)),
                                              &StartSim(lineSpeed, Com(1))};
    ChildProcess child;
    ASSERT_TRUE(
        child.Start(Options({"update", "--yes", "--port", Port(Com(0)), "--port", Port(Com(1))})));
    ASSERT_TRUE(ErrShows(child, "Upgrading CPU: 20 %", 2)) << child.Err();
    child.Signal(SIGINT);
    ASSERT_TRUE(ErrShows(child, kUploadUnderWayNotice, 1)) << child.Err();
    ASSERT_TRUE(ErrShows(child, "Upgrading CPU: 30 %", 2)) << "both go on after the first press";
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(Ms(30000)), Cli().wine ? 130 : 256 + SIGINT) << child.Err();
    EXPECT_EQ(CountOf(child.Err(), kUploadUnderWayNotice), 1) << child.Err();
    for (int offset = 0; offset < 2; ++offset) {
        const std::string port = Port(Com(offset));
        EXPECT_NE(child.Err().find(port + ": " + kUploadAbandonedNotice), std::string::npos)
            << child.Err();
        EXPECT_EQ(TableRow(child.Out(), port).at(3), "interrupted") << child.Out();
        const auto summary = sims[static_cast<std::size_t>(offset)]->GetSummary();
        EXPECT_FALSE(summary.completeCorrectUpload);
        const std::string device = sims[static_cast<std::size_t>(offset)]->DevicePath();
        EXPECT_NO_THROW(CSerial(device.c_str(), 115200, 'N', 8, 1, true, true)) << "released";
    }
}

// Several ports on a terminal: one row per port, redrawn in place below the other lines.
TEST_F(CliEndToEnd, SeveralPortsOnATerminalRedrawOneRowEach) {
    if (Cli().wine) {
        GTEST_SKIP() << "a pseudo-terminal is no Windows console";
    }
    int master = -1;
    int slave = -1;
    std::string path;
    ASSERT_TRUE(OpenRawPty(master, slave, path));
    scannersim::Options lineSpeed;
    lineSpeed.lineSpeed = true;
    StartSim(lineSpeed, Com(0));
    StartSim(lineSpeed, Com(1));
    ChildOptions options =
        Options({"update", "--yes", "--port", Port(Com(0)), "--port", Port(Com(1))});
    options.terminal = slave;
    options.env.push_back("TERM=xterm");
    ChildProcess child;
    ASSERT_TRUE(child.Start(options, master));
    EXPECT_EQ(child.Wait(Ms(60000)), 0) << child.Out() << child.Err();
    const std::string& terminal = child.Err();
    EXPECT_GE(CountOf(terminal, "\x1b[1A\r"), 10) << "the two rows go back up to be redrawn";
    for (const int com : {Com(0), Com(1)}) {
        EXPECT_NE(terminal.find(Port(com) + ": [##########] 100 % "), std::string::npos)
            << terminal;
    }
    EXPECT_EQ(terminal.find("Upgrading CPU: 10 %"), std::string::npos) << "no plain lines there";
    EXPECT_EQ(TableRow(child.Out(), "Port").size(), 5u) << child.Out();
    CloseRawPty(master, slave);
}
