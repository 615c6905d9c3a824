// The console program's pieces on their own: the progress lines, --port, the answers, the
// order of exit codes, Ctrl+C's meaning, and finding the scanner's port.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>

#include "console_fakes.h"
#include "outcomes.h"
#include "platform.h"

using namespace consolefakes;
using fakes::Bytes;

namespace {

// A console on string streams, with no terminal on standard input.
struct TestConsole {
    explicit TestConsole(bool errIsTerminal, bool cursorMoves = false) {
        modes.errIsTerminal = errIsTerminal;
        modes.cursorMoves = cursorMoves;
        console = std::make_unique<Console>(out, err, modes, interrupts, input);
    }
    ConsoleModes modes;
    std::ostringstream out;
    std::ostringstream err;
    ConsoleInterrupts interrupts;
    ScriptedInput input{interrupts};
    std::unique_ptr<Console> console;
};

// A clock that stands where it is put, beyond the virtual clock's ten minutes.
struct SetClock : exchange::IClock {
    std::uint32_t GetTickCount() override { return now; }
    void Sleep(std::uint32_t ms) override { now += ms; }
    std::uint32_t now = 0;
};

}  // namespace

TEST(ProgressLines, BarAndPlainLine) {
    for (const bool terminal : {true, false}) {
        TestConsole t(terminal);
        SetClock clock;
        auto progress = t.console->CreateProgress(clock);
        progress->SetRange32(0, 59862);
        progress->SetCaption("Upgrading CPU");
        clock.now = 5400;
        progress->SetPos(29880);  // 249 packets of 120
        EXPECT_EQ(t.err.str(),
                  terminal
                      ? "Upgrading CPU\n\r[####------]  49 % 29880/59862 bytes 249/499 packets "
                        "0:05 elapsed 0:05 left"
                      : "Upgrading CPU\nUpgrading CPU: 49 % (29880 of 59862 bytes, 249 of 499 "
                        "packets, 0:05 elapsed, about 0:05 left)\n");
        if (terminal) {
            clock.now = 671000;
            progress->SetPos(59862);
            const std::string last = t.err.str().substr(t.err.str().rfind('\r') + 1);
            EXPECT_EQ(
                last,
                "[##########] 100 % 59862/59862 bytes 499/499 packets 11:11 elapsed 0:00 left");
            EXPECT_LT(last.size(), 80u) << "fits an 80-column terminal";
        }
    }
}

namespace {

// Runs the positions through a progress window as the upload does.
std::string DriveProgress(bool errIsTerminal, int total, int step) {
    TestConsole t(errIsTerminal);
    fakes::VirtualClock clock;
    {
        auto progress = t.console->CreateProgress(clock);
        progress->SetRange32(0, total);
        progress->SetCaption("Upgrading CPU");
        for (int position = step; position < total + step; position += step) {
            clock.Advance(22);
            progress->SetPos(std::min(position, total));
        }
        progress->SetPos(0);
        progress->SetCaption("Waiting for CPU approval");
    }
    t.console->Line("after");
    EXPECT_EQ(t.out.str(), "after\n");
    return t.err.str();
}

}  // namespace

TEST(ConsoleProgress, WithoutATerminalAPlainLineEveryTenPerCent) {
    const std::string err = DriveProgress(false, 59862, 120);
    EXPECT_EQ(err.find('\r'), std::string::npos);
    EXPECT_EQ(err.find('\x1b'), std::string::npos);
    std::istringstream lines(err);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) {
        all.push_back(line);
    }
    ASSERT_EQ(all.size(), 12u) << err;
    EXPECT_EQ(all.front(), "Upgrading CPU");
    EXPECT_EQ(all[1].rfind("Upgrading CPU: 10 % (6000 of 59862 bytes, 50 of 499 packets, 0:01", 0),
              0u)
        << all[1];
    EXPECT_EQ(all[10].rfind("Upgrading CPU: 100 % (59862 of 59862 bytes, 499 of 499 packets", 0),
              0u);
    EXPECT_EQ(all.back(), "Waiting for CPU approval") << "the drop to 0 prints nothing";
}

TEST(ConsoleProgress, OnATerminalOneLineRedrawnAtMostTenTimesASecond) {
    const std::string err = DriveProgress(true, 59862, 120);
    EXPECT_EQ(err.find('\x1b'), std::string::npos);
    const auto first = err.find('\r');
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(err.substr(0, first), "Upgrading CPU\n");
    int redraws = 0;
    for (auto at = first; at != std::string::npos; at = err.find('\r', at + 1)) {
        ++redraws;
        EXPECT_EQ(err[at + 1], '[');
    }
    // 499 packets in 499 * 22 ms: one redraw per 100 ms, and the last at 100 %.
    EXPECT_GE(redraws, 100);
    EXPECT_LE(redraws, 112);
    const auto last = err.rfind('\r');
    EXPECT_EQ(err.substr(last, err.find('\n', last) - last).rfind("\r[##########] 100 %", 0), 0u);
    EXPECT_EQ(err.substr(err.find('\n', last)), "\nWaiting for CPU approval\n");
}

// Several ports on a terminal: every line carries its port, and the rows of progress stand
// below whatever else is written, redrawn in place.
TEST(ConsoleOutput, SeveralPortsPrefixEveryLineAndKeepTheirRowsBelow) {
    TestConsole run(/*errIsTerminal=*/true, /*cursorMoves=*/true);
    fakes::VirtualClock clock;
    run.console->OpenBoard(2);
    Console first(*run.console, "COM1", 0);
    Console second(*run.console, "COM2", 1);
    auto firstProgress = first.CreateProgress(clock);
    auto secondProgress = second.CreateProgress(clock);
    firstProgress->SetRange32(0, 1200);
    secondProgress->SetRange32(0, 1200);
    firstProgress->SetPos(120);
    const std::string row1 = "COM1: [#---------]  10 % 1/10 packets 0:00 left\x1b[K";
    EXPECT_EQ(run.err.str(), row1 + "\nCOM2: -\x1b[K");
    run.err.str("");
    second.Alert("Upgrading CPU");  // the rows go up to make room, then stand below it
    EXPECT_EQ(run.err.str(), "\x1b[1A\r\x1b[JCOM2: Upgrading CPU\n" + row1 + "\nCOM2: -\x1b[K");
    run.err.str("");
    secondProgress->SetPos(240);
    EXPECT_EQ(run.err.str(),
              "\x1b[1A\r" + row1 + "\nCOM2: [##--------]  20 % 2/10 packets 0:00 left\x1b[K");
    second.Line("two\nlines");
    EXPECT_EQ(run.out.str(), "COM2: two\nCOM2: lines\n");
    run.err.str("");
    run.console->CloseBoard();
    EXPECT_EQ(run.err.str(), "\n");

    // Without cursor movement the ports' progress is left to plain lines.
    TestConsole plainRun(/*errIsTerminal=*/true);
    plainRun.console->OpenBoard(1);
    Console plain(*plainRun.console, "COM3", 0);
    auto plainProgress = plain.CreateProgress(clock);
    plainProgress->SetRange32(0, 1200);
    plainProgress->SetCaption("Upgrading CPU");
    plainProgress->SetPos(120);
    EXPECT_EQ(plainRun.err.str(),
              "COM3: Upgrading CPU\nCOM3: Upgrading CPU: 10 % (120 of 1200 "
              "bytes, 1 of 10 packets, 0:00 elapsed, about 0:00 left)\n");
}

TEST(PortArgument, ComNumbersAutoAndWhatIsRefused) {
    struct Case {
        const char* text;
        std::optional<int> com;
    };
    for (const Case& c : {Case{"COM1", 1}, Case{"com256", 256}, Case{"Com33", 33}, Case{"7", 7},
                          Case{"256", 256}, Case{"COM0", {}}, Case{"0", {}}, Case{"257", {}},
                          Case{"COM", {}}, Case{"COM07", {}}, Case{"07", {}}, Case{"x", {}},
                          Case{"", {}}, Case{"COM1 ", {}}, Case{"-3", {}}, Case{"COM+3", {}}}) {
        std::string error;
        const auto port = ParsePortArgument(c.text, error);
        if (c.com) {
            ASSERT_TRUE(port) << c.text << ": " << error;
            EXPECT_EQ(port->kind, PortArgument::Kind::kComNumber) << c.text;
            EXPECT_EQ(port->comNumber, *c.com) << c.text;
        } else {
            EXPECT_FALSE(port) << c.text;
            EXPECT_NE(error.find(c.text), std::string::npos) << error;
        }
    }
    std::string error;
    EXPECT_EQ(ParsePortArgument("auto", error)->kind, PortArgument::Kind::kAuto);
    EXPECT_EQ(ParsePortArgument("found", error)->kind, PortArgument::Kind::kFound);
    const auto path = ParsePortArgument("/dev/nonexistent-tty", error);
    EXPECT_EQ(path.has_value(), DevicePathsAccepted());
    if (path) {
        EXPECT_EQ(path->kind, PortArgument::Kind::kDevicePath);
        EXPECT_EQ(path->devicePath, "/dev/nonexistent-tty");
        EXPECT_EQ(path->comNumber, 0) << "no COM number leads there";
    }
}

// One device may not be named twice, whatever path names it.
TEST(PortArgument, OneDeviceThroughALinkIsNamedTwice) {
    if (!DevicePathsAccepted()) {
        GTEST_SKIP() << "device paths are not ports here";
    }
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto link =
        std::filesystem::temp_directory_path() / ("tr_port_argument_" + std::to_string(stamp));
    std::filesystem::remove(link);
    std::filesystem::create_symlink("/dev/null", link);
    std::string error;
    const auto device = ParsePortArgument("/dev/null", error);
    const auto viaLink = ParsePortArgument(link.string(), error);
    const auto other = ParsePortArgument("/dev/zero", error);
    ASSERT_TRUE(device && viaLink && other);
    EXPECT_FALSE(CheckPortArguments({*device, *viaLink}, error));
    EXPECT_NE(error.find("is named twice"), std::string::npos) << error;
    EXPECT_TRUE(CheckPortArguments({*device, *other}, error)) << error;
    std::filesystem::remove(link);
}

TEST(Answers, OnlyYIsYes) {
    for (const char* yes : {"y", "Y", "yes", "YES", " y\t", "Yes\r"}) {
        EXPECT_TRUE(IsYesAnswer(yes)) << yes;
    }
    for (const char* no : {"", "n", "no", "ye", "yess", "y y", "j", "1"}) {
        EXPECT_FALSE(IsYesAnswer(no)) << no;
    }
}

// Several ports end with the most severe port's code, whatever order the ports ended in.
TEST(ExitCodes, SeveralPortsEndWithTheMostSevereInTheDocumentedOrder) {
    const std::vector<int> order{130, 70, 5, 4, 3, 2, 6, 1};
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(cli::MostSevereExitCode(0, order[i]), order[i]);
        EXPECT_EQ(cli::MostSevereExitCode(order[i], 0), order[i]);
        for (std::size_t j = i + 1; j < order.size(); ++j) {
            EXPECT_EQ(cli::MostSevereExitCode(order[i], order[j]), order[i]) << order[j];
            EXPECT_EQ(cli::MostSevereExitCode(order[j], order[i]), order[i]) << order[j];
        }
    }
    EXPECT_EQ(cli::MostSevereExitCode(0, 0), 0);
    EXPECT_NE(cli::ExitCodeHelp().find("130, 70, 5, 4, 3, 2, 6"), std::string::npos);
}

TEST(Interrupts, WhatAPressMeansDependsOnTheUpload) {
    ConsoleInterrupts interrupts;
    int notices = 0;
    interrupts.SetUploadNotice([&] { ++notices; });
    EXPECT_NO_THROW(interrupts.Check());
    {
        const ConsoleInterrupts::UploadScope upload(interrupts);
        interrupts.Press();
        EXPECT_TRUE(interrupts.Pending());
        EXPECT_NO_THROW(interrupts.Check());
        EXPECT_NO_THROW(interrupts.Check());
        EXPECT_EQ(notices, 1);
        EXPECT_FALSE(interrupts.Pending());
        interrupts.Press();
        EXPECT_THROW(interrupts.Check(), ConsoleInterrupted);
    }
    EXPECT_TRUE(interrupts.Ended());

    ConsoleInterrupts outside;
    outside.Press();
    EXPECT_THROW(outside.Check(), ConsoleInterrupted);
    ConsoleInterrupts terminated;
    const ConsoleInterrupts::UploadScope upload(terminated);
    terminated.Terminate();
    EXPECT_THROW(terminated.Check(), ConsoleInterrupted) << "an end request needs no second";
}

namespace {

// Ports by name: each COM number a scripted port of its own, or one that cannot be opened.
class PortsByName : public exchange::IPortOpener {
public:
    explicit PortsByName(fakes::VirtualClock& clock) : m_clock(clock) {}
    fakes::ScriptedPort& Add(const std::string& name) {
        return *m_ports.emplace(name, std::make_unique<fakes::ScriptedPort>(m_clock, log))
                    .first->second;
    }
    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override {
        opened.push_back(name);
        settings.push_back({name, baudRate, parity, dataBits, stopBits, dtr, rts});
        const auto found = m_ports.find(name);
        if (found == m_ports.end()) {
            throw 1;  // held by another program
        }
        fakes::ScriptedOpener single(*found->second, log);
        return single.Open(name, baudRate, parity, dataBits, stopBits, dtr, rts);
    }
    fakes::EventLog log;
    std::vector<std::string> opened;
    std::vector<fakes::ScriptedOpener::Request> settings;

private:
    fakes::VirtualClock& m_clock;
    std::map<std::string, std::unique_ptr<fakes::ScriptedPort>> m_ports;
};

comports::ComPortInfo Info(int com, bool present) {
    return {com, present, "dev" + std::to_string(com), "COM" + std::to_string(com) + ": dev"};
}

}  // namespace

TEST(FindScannerPorts, ListensOnPresentPortsOnlyAndSendsNothing) {
    auto firmware = SmallFirmware();
    ConsoleBench bench(*firmware);
    PortsByName opener(bench.clock);
    opener.Add("\\\\.\\COM3");                  // silent
    auto& scanner = opener.Add("\\\\.\\COM5");  // the scanner, 'C' late
    scanner.Arrive(2000 + 1900, {'x', 'C'});    // 1.9 s into its window
    auto& other = opener.Add("\\\\.\\COM8");    // noise, no ready byte
    other.Arrive(6000, {'c', 0x06, 'A'});
    opener.Add("\\\\.\\COM9");  // present, but not listed so
    const std::vector<comports::ComPortInfo> ports{Info(3, true), Info(5, true), Info(6, true),
                                                   Info(8, true), Info(9, false)};
    ConsoleSurroundings s{*bench.console,
                          opener,
                          bench.clock,
                          bench.keepAwake,
                          *firmware,
                          "",
                          [&ports] { return ports; },
                          [](const std::string& port) { return "why not " + port; }};
    CommandReport report;
    EXPECT_EQ(RunFindCommand(s, report), 0);
    ASSERT_EQ(report.listed.size(), 1u);
    EXPECT_EQ(report.listed[0].comNumber, 5);
    EXPECT_EQ(opener.opened, (std::vector<std::string>{"\\\\.\\COM3", "\\\\.\\COM5", "\\\\.\\COM6",
                                                       "\\\\.\\COM8"}));
    for (const auto& request : opener.settings) {
        EXPECT_EQ(request.baudRate, 115200);
        EXPECT_EQ(request.parity, 'N');
        EXPECT_EQ(request.dataBits, 8);
        EXPECT_EQ(request.stopBits, 1);
        EXPECT_TRUE(request.dtr && request.rts);
    }
    EXPECT_TRUE(opener.log.WithPrefix("port write").empty());
    EXPECT_EQ(opener.log.WithPrefix("port close").size(), 3u);
    EXPECT_NE(bench.Err().find("COM6: cannot be opened, left alone\nwhy not COM6\n"),
              std::string::npos)
        << bench.Err();
    // 2 s on COM3, 1.9 s on COM5, nothing on COM6, 2 s on COM8.
    EXPECT_GE(bench.clock.Now(), 5900u);
    EXPECT_LT(bench.clock.Now(), 6100u);
}

TEST(ConsoleCommands, InfoNamesTheCarriedImage) {
    auto firmware = SmallFirmware();
    firmware->version = 0x1A5;  // only the low byte counts
    ConsoleBench bench(*firmware);
    EXPECT_EQ(RunInfoCommand(*bench.surroundings), 0);
    EXPECT_EQ(bench.Out(),
              "Firmware version: 2.50\nLength: 250 bytes\nPackets: 3 (120 image bytes "
              "each)\nSHA-256: " +
                  std::string(kBenchSha256) + "\n");
}

TEST(ConsoleCommands, PortsListsThePresentOnesOrAll) {
    auto firmware = SmallFirmware();
    ConsoleBench bench(*firmware);
    bench.ports = {Info(1, false), Info(2, true), Info(3, false), Info(4, true)};
    CommandReport report;
    EXPECT_EQ(RunPortsCommand(*bench.surroundings, false, report), 0);
    EXPECT_EQ(report.listed.size(), 2u);
    EXPECT_EQ(bench.Out(), "COM2: dev\nCOM4: dev\n");
    ConsoleBench all(*firmware);
    all.ports = bench.ports;
    CommandReport allReport;
    EXPECT_EQ(RunPortsCommand(*all.surroundings, true, allReport), 0);
    EXPECT_EQ(all.Out(), "COM1: dev\nCOM2: dev\nCOM3: dev\nCOM4: dev\n");
}

TEST(ConsoleCommands, AutoRefusesWithTheListWhenTheScannerAnswersOnSeveralPorts) {
    auto firmware = SmallFirmware();
    ConsoleBench bench(*firmware);
    bench.ports = {Info(1, true), Info(2, true)};
    bench.port.Arrive(10, {'C'});
    bench.port.Arrive(1000, {'C'});  // the one scripted port stands behind both names
    const PortArgument automatic{PortArgument::Kind::kAuto, 0, {}};
    CommandReport report;
    EXPECT_EQ(RunTestCommand(*bench.surroundings, {automatic}, report), 2);
    EXPECT_NE(bench.Err().find("several ports:\n  COM1: dev\n  COM2: dev"), std::string::npos)
        << bench.Err();
    EXPECT_EQ(bench.opener.requests.size(), 2u) << "no TEST";
    ConsoleBench none(*firmware);
    none.ports = {Info(1, true)};
    EXPECT_EQ(RunTestCommand(*none.surroundings, {automatic}, report), 2);
    EXPECT_NE(none.Err().find("no port where the scanner answers"), std::string::npos);
}

// A present port that cannot be opened (no permission, another program) may be where the
// scanner waits: neither ports --find nor --port auto may then say that none answers.
TEST(ConsoleCommands, APortNotOpenedIsNeverCalledNoScanner) {
    auto firmware = SmallFirmware();
    for (const bool automatic : {false, true}) {
        SCOPED_TRACE(automatic ? "--port auto" : "ports --find");
        ConsoleBench bench(*firmware);
        bench.ports = {Info(7, true)};
        bench.opener.mode = fakes::ScriptedOpener::Mode::kThrowInt;
        bench.whyNotOpened = "You may not open dev7 (group dialout, mode crw-rw----): ...";
        CommandReport report;
        const int code = automatic ? RunTestCommand(*bench.surroundings,
                                                    {{PortArgument::Kind::kAuto, 0, {}}}, report)
                                   : RunFindCommand(*bench.surroundings, report);
        EXPECT_EQ(code, 2) << "the port cannot be opened";
        EXPECT_EQ(bench.whyAskedOf, std::vector<std::string>{"COM7"});
        const std::string err = bench.Err();
        EXPECT_NE(err.find("COM7: cannot be opened, left alone\n" + bench.whyNotOpened + "\n"),
                  std::string::npos)
            << err;
        EXPECT_EQ(err.find("o port where"), std::string::npos) << err;
        EXPECT_EQ(err.find('?'), std::string::npos) << err;
    }
}
