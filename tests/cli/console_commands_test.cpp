// The console commands in virtual time against the scripted scanner: the exit code that each
// outcome of TEST and UPDATE leads to, what goes to standard output, Ctrl+C, and the hold.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>

#include "console_fakes.h"
#include "dialog_templates.h"
#include "exchange_guard.h"
#include "link_frame.h"
#include "outcomes.h"

using namespace consolefakes;
using fakes::Bytes;

namespace {

using exchange::UploadOutcome;
using exchange::VersionCheckOutcome;

constexpr int kCom = 4;

const std::string kOpenFailedTest =
    "Unable to open the port COM4. Make sure that it actually\nexists and is not being used by "
    "any other program (e.g. a\nPDA program like Palm's HotSync).\n\nPlease retry from Step 2.";
const std::string kOpenFailedUpdate =
    "Unable to open the port COM4. Make sure that it's actually\nexists and is not being used by "
    "any other program (e.g. a\nPDA program like Palm's HotSync).";

// kUploadAlone: UPDATE pressed on its own, as the dialog does after a TEST; its outcome mapped.
enum class Command { kTest, kUpdate, kUploadAlone };

// One outcome: how the scanner behaves, which command runs, what it must end with.
struct Row {
    const char* name;
    Command command;
    std::function<void(ConsoleBench&, ConsoleScanner&)> script;
    int exitCode;
    std::string message;  // the last message on standard output; empty: none expected
    std::optional<VersionCheckOutcome> test;  // what TEST returned; none: it did not end
    std::optional<UploadOutcome> update;      // what UPDATE returned; none: it did not run
};

PortArgument Com(int number) {
    return PortArgument{PortArgument::Kind::kComNumber, number, {}};
}

class ConsoleCommand : public ::testing::Test {
protected:
    ConsoleCommand() : bench(*firmware), scanner(bench.port, firmware->imageLength) {}

    int Run(Command command) {
        scanner.Begin();
        if (command == Command::kUploadAlone) {
            fakes::RecordingView view(bench.log, &bench.clock);
            DialogIo io{view, bench.opener, bench.clock};
            uploadAlone = RunDialogUpdate(io, *firmware, kCom - 1).outcome;
            return cli::ExitCodeAfterUpdate(*uploadAlone);
        }
        return command == Command::kTest
                   ? RunTestCommand(*bench.surroundings, {Com(kCom)}, report)
                   : RunUpdateCommand(*bench.surroundings, {Com(kCom)}, report);
    }

    std::unique_ptr<FirmwarePayload> firmware = SmallFirmware();
    ConsoleBench bench;
    ConsoleScanner scanner;
    CommandReport report;
    std::optional<UploadOutcome> uploadAlone;
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

// Another exchange holds this thread's one for as long as the row's command runs.
std::unique_ptr<exchange::ExchangeGuard> g_heldExchange;

class ExitCodeRow : public ConsoleCommand, public ::testing::WithParamInterface<Row> {
protected:
    void TearDown() override { g_heldExchange.reset(); }
};

}  // namespace

TEST_P(ExitCodeRow, EndsWithItsCodeAndTheUtilitysMessageVerbatim) {
    const Row& row = GetParam();
    row.script(bench, scanner);
    EXPECT_EQ(Run(row.command), row.exitCode) << bench.Out() << bench.Err();
    if (row.command == Command::kUploadAlone) {
        EXPECT_EQ(uploadAlone, row.update);
    } else {
        // The outcomes the exchanges returned, and the port's record of them.
        ASSERT_EQ(report.ports.size(), 1u);
        const PortReport& port = report.ports[0];
        EXPECT_EQ(port.exitCode, row.exitCode);
        EXPECT_EQ(port.test ? std::optional(port.test->outcome) : std::nullopt, row.test);
        EXPECT_EQ(port.update ? std::optional(port.update->outcome) : std::nullopt, row.update);
        if (!row.message.empty()) {
            ASSERT_FALSE(port.messages.empty());
            const std::string& last = port.messages.back();
            EXPECT_TRUE(
                last.size() >= row.message.size() &&
                last.compare(last.size() - row.message.size(), std::string::npos, row.message) == 0)
                << last;
        }
    }
    if (!row.message.empty()) {
        const std::string out = bench.Out();
        ASSERT_GE(out.size(), row.message.size() + 1);
        EXPECT_EQ(out.substr(out.size() - row.message.size() - 1), row.message + "\n") << out;
    }
    // Whatever the outcome, every port that was opened has been closed again (the rows that
    // make an open fail make the last one fail).
    const std::size_t opened = bench.log.WithPrefix("port open").size() -
                               (bench.opener.mode == fakes::ScriptedOpener::Mode::kSucceed ? 0 : 1);
    EXPECT_EQ(bench.log.WithPrefix("port close").size(), opened);
    EXPECT_EQ(bench.keepAwake.held, 0);
    EXPECT_EQ(bench.Err().find('\r'), std::string::npos);
}

namespace {

void Nothing(ConsoleBench&, ConsoleScanner&) {}

// Another exchange runs on this thread while the row's command does: it must refuse.
void HoldTheExchange(ConsoleBench&, ConsoleScanner&) {
    g_heldExchange = std::make_unique<exchange::ExchangeGuard>();
}

// Makes a change as TEST's closing ACK goes out, so that UPDATE meets what TEST did not.
void AfterTestsAck(ConsoleBench& bench, std::function<void()> change) {
    auto inner = bench.port.onWrite;
    bench.port.onWrite = [inner, change](const fakes::WriteRecord& write) {
        if (write.bytes == fakes::Bytes{scanlink::ACK}) {
            change();
        }
        inner(write);
    };
}

// Presses Ctrl+C as the data packets with these indices (0 = first) go out.
void PressOnPackets(ConsoleBench& bench, std::vector<int> packets) {
    auto inner = bench.port.onWrite;
    auto seen = std::make_shared<int>(-1);
    bench.port.onWrite = [&bench, inner, seen, packets](const fakes::WriteRecord& write) {
        if (write.bytes.size() > 10) {  // a data packet
            ++*seen;
            for (const int packet : packets) {
                if (packet == *seen) {
                    bench.interrupts.Press();
                }
            }
        }
        inner(write);
    };
}

const Row kRows[] = {
    {"TestBusy", Command::kTest, HoldTheExchange, 70, "", VersionCheckOutcome::kBusy, std::nullopt},
    {"TestPortNotOpened", Command::kTest,
     [](ConsoleBench& b, ConsoleScanner&) {
         b.opener.mode = fakes::ScriptedOpener::Mode::kThrowInt;
     },
     2, kOpenFailedTest, VersionCheckOutcome::kPortNotOpened, std::nullopt},
    {"TestNoReadyByte", Command::kTest,
     [](ConsoleBench&, ConsoleScanner& s) { s.sendReady = false; }, 3,
     "No data from the scanner. Please retry from step 1", VersionCheckOutcome::kNoReadyByte,
     std::nullopt},
    {"TestNoReply", Command::kTest, [](ConsoleBench&, ConsoleScanner& s) { s.answerQuery = false; },
     3, "Unable to communicate with the scanner.\n\nPlease retry from Step 1.",
     VersionCheckOutcome::kNoReply, std::nullopt},
    {"TestOlderScanner", Command::kTest, Nothing, 0, "This update utility contains version 1.10.",
     VersionCheckOutcome::kUploadOffered, std::nullopt},
    {"TestSameVersionOnlyShowsTheQuestion", Command::kTest,
     [](ConsoleBench&, ConsoleScanner& s) { s.versionDigits = "11"; }, 0,
     "Do you really want to upload version 1.1 ?", VersionCheckOutcome::kUploadNotOffered,
     std::nullopt},
    {"UpdateAccepted", Command::kUpdate, Nothing, 0, TR_TEXT_COMPLETION,
     VersionCheckOutcome::kUploadOffered, UploadOutcome::kAccepted},
    {"UpdateBusy", Command::kUploadAlone, HoldTheExchange, 70, "", std::nullopt,
     UploadOutcome::kBusy},
    {"UpdateTestsPortNotOpened", Command::kUpdate,
     [](ConsoleBench& b, ConsoleScanner&) {
         b.opener.mode = fakes::ScriptedOpener::Mode::kReturnNull;
     },
     2, kOpenFailedTest, VersionCheckOutcome::kPortNotOpened, std::nullopt},
    {"UpdateUploadsPortNotOpened", Command::kUpdate,
     [](ConsoleBench& b, ConsoleScanner&) {
         AfterTestsAck(b, [&b] { b.opener.mode = fakes::ScriptedOpener::Mode::kReturnNull; });
     },
     2, kOpenFailedUpdate, VersionCheckOutcome::kUploadOffered, UploadOutcome::kPortNotOpened},
    {"UpdateNoReadyByte", Command::kUpdate,
     [](ConsoleBench& b, ConsoleScanner& s) {
         AfterTestsAck(b, [&s] { s.upload.readyBytes = {}; });  // TEST had its 'C'
     },
     3, "No data from the scanner. Please retry from step 4", VersionCheckOutcome::kUploadOffered,
     UploadOutcome::kNoReadyByte},
    {"UpdateNoGoAhead", Command::kUpdate,
     [](ConsoleBench&, ConsoleScanner& s) { s.upload.goAhead = {}; }, 3,
     "No data from the scanner. Please retry from step 4", VersionCheckOutcome::kUploadOffered,
     UploadOutcome::kNoGoAhead},
    {"UpdateNakThreeTimes", Command::kUpdate,
     [](ConsoleBench&, ConsoleScanner& s) {
         for (std::size_t send = 0; send < 3; ++send) {
             s.upload.AnswerSend(1, send, {{1, {scanlink::NAK}}});
         }
     },
     4, "Scanner not approving the upgrade packets", VersionCheckOutcome::kUploadOffered,
     UploadOutcome::kNotApproved},
    {"UpdateSilenceAfterAPacket", Command::kUpdate,
     [](ConsoleBench&, ConsoleScanner& s) { s.upload.AnswerSend(2, 0, {}); }, 3,
     "Timed out waiting for response from scanner", VersionCheckOutcome::kUploadOffered,
     UploadOutcome::kNoAnswer},
    {"UpdateDleInAnswerToAPacket", Command::kUpdate,
     [](ConsoleBench&, ConsoleScanner& s) {
         s.upload.AnswerSend(0, 0, {{1, {scanlink::DLE}}});
     },
     3, "Timed out waiting for response from scanner", VersionCheckOutcome::kUploadOffered,
     UploadOutcome::kNoAnswer},
    {"UpdateRejected", Command::kUpdate,
     [](ConsoleBench&, ConsoleScanner& s) {
         s.upload.verdict = {{1, {scanlink::CAN}}};
     },
     4, "Scanner rejected the upgrade!", VersionCheckOutcome::kUploadOffered,
     UploadOutcome::kRejected},
    {"UpdateNoVerdict", Command::kUpdate,
     [](ConsoleBench&, ConsoleScanner& s) { s.upload.verdict = {}; }, 3,
     "Scanner response timeout!", VersionCheckOutcome::kUploadOffered,
     UploadOutcome::kVerdictTimeout},
    {"UpdateUnknownVerdict", Command::kUpdate,
     [](ConsoleBench&, ConsoleScanner& s) {
         s.upload.verdict = {{1, {'?'}}};
     },
     4, "Scanner unknown response!", VersionCheckOutcome::kUploadOffered,
     UploadOutcome::kUnknownVerdict},
    {"UpdateWriteFails", Command::kUpdate,
     [](ConsoleBench& b, ConsoleScanner&) {
         // The cable goes after the first data packet: the second one's write fails.
         auto inner = b.port.onWrite;
         b.port.onWrite = [&b, inner](const fakes::WriteRecord& write) {
             if (write.bytes.size() == scanlink::kStartPacketSize) {
                 b.port.FailWritesFrom(b.port.Writes().size() + 1);
             }
             inner(write);
         };
     },
     5, "Unable to send data to the scanner. Please retry from step 4",
     VersionCheckOutcome::kUploadOffered, UploadOutcome::kWriteFailed},
    {"UpdateAbandonedByTheSecondCtrlC", Command::kUpdate,
     [](ConsoleBench& b, ConsoleScanner&) {
         PressOnPackets(b, {0, 1});
     },
     130, "", VersionCheckOutcome::kUploadOffered, UploadOutcome::kAbandoned},
    {"UpdateAbandonedByAnythingElse", Command::kUpdate,
     [](ConsoleBench& b, ConsoleScanner&) {
         auto inner = b.port.onWrite;
         b.port.onWrite = [inner](const fakes::WriteRecord& write) {
             inner(write);
             if (write.bytes.size() > scanlink::kStartPacketSize) {
                 throw std::runtime_error("a fault of ours, mid-upload");
             }
         };
     },
     70, "", VersionCheckOutcome::kUploadOffered, UploadOutcome::kAbandoned},
    {"UpdateSameVersionAnsweredNo", Command::kUpdate,
     [](ConsoleBench& b, ConsoleScanner& s) {
         s.versionDigits = "11";
         b.SetAnswers(/*inputIsTerminal=*/true, /*assumeYes=*/false);
         b.input.lines = {"yes", "n"};
     },
     6, "Do you really want to upload version 1.1 ?", VersionCheckOutcome::kUploadNotOffered,
     std::nullopt},
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Outcomes, ExitCodeRow, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

// What standard error says when TEST could not open the port.
struct WhyRow {
    const char* name;
    PortArgument port;
    bool opens;           // the port opens, and the scanner answers
    const char* look;     // what the look at the port says
    const char* askedOf;  // the port the look is asked about; empty: not asked
    std::string err;      // all of standard error
};

class WhyNotOpenedRow : public ConsoleCommand, public ::testing::WithParamInterface<WhyRow> {};

void PrintTo(const WhyRow& row, std::ostream* os) {
    *os << row.name;
}

}  // namespace

TEST_P(WhyNotOpenedRow, OneLineSaysWhatKeptThePortClosed) {
    const WhyRow& row = GetParam();
    if (!row.opens) {
        bench.opener.mode = fakes::ScriptedOpener::Mode::kThrowInt;
    }
    bench.whyNotOpened = row.look;
    scanner.Begin();
    const int code = RunTestCommand(*bench.surroundings, {row.port}, report);
    EXPECT_EQ(code, row.opens ? 0 : 2);
    EXPECT_EQ(bench.Err(), row.err);
    EXPECT_EQ(bench.whyAskedOf, (*row.askedOf != '\0' ? std::vector<std::string>{row.askedOf}
                                                      : std::vector<std::string>{}));
}

namespace {

const char* const kNoAccess =
    "You may not open /dev/ttyUSB0 (group dialout, mode crw-rw----): sudo usermod -aG dialout "
    "$USER, then log out and in again.";

const WhyRow kWhyRows[] = {
    {"ComNumber", Com(kCom), false, kNoAccess, "COM4", std::string(kNoAccess) + "\n"},
    {"PathOfNoComNumber",
     {PortArgument::Kind::kDevicePath, 0, "/dev/ttyUSB0"},
     false,
     kNoAccess,
     "/dev/ttyUSB0",
     "(the port above is /dev/ttyUSB0)\n" + std::string(kNoAccess) + "\n"},
    {"NothingFound", Com(kCom), false, "", "COM4", ""},
    {"PortOpened", Com(kCom), true, kNoAccess, "", ""},
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Ports, WhyNotOpenedRow, ::testing::ValuesIn(kWhyRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A fault of ours on one port's thread ends that port with 70 and, as on a run over one port,
// a line that says so, prefixed with the port.
TEST_F(ConsoleCommand, AnExceptionOnAPortsThreadIsToldOnItsLine) {
    // Every port refused at once, nothing recorded: the ports' threads share the opener.
    class Refusing final : public exchange::IPortOpener {
    public:
        std::unique_ptr<exchange::IPort> Open(const std::string&, int, char, int, int, bool,
                                              bool) override {
            throw 1;
        }
    } refusing;
    const ConsoleSurroundings& b = *bench.surroundings;
    ConsoleSurroundings s{b.console,
                          refusing,
                          b.clock,
                          b.keepAwake,
                          b.firmware,
                          b.firmwareSha256,
                          b.describePorts,
                          [](const std::string&) -> std::string {
                              throw std::runtime_error("a fault of ours in \x1b[2J");
                          }};
    EXPECT_EQ(RunTestCommand(s, {Com(4), Com(5)}, report), 70);
    ASSERT_EQ(report.ports.size(), 2u);
    for (const PortReport& port : report.ports) {
        EXPECT_EQ(port.exitCode, 70);
        EXPECT_NE(bench.Err().find(port.label + ": tr520-cli: internal error: a fault of ours in "
                                                "\\x1B[2J\n"),
                  std::string::npos)
            << bench.Err();
    }
}

// The start-up warning answered No ends before any port is looked at.
TEST_F(ConsoleCommand, UpdateWarningNotAnsweredEndsBeforeAnyPort) {
    bench.SetAnswers(false, false);
    EXPECT_EQ(Run(Command::kUpdate), 6);
    EXPECT_EQ(bench.Out(), std::string(dialog_template::kStartupWarning) + "\n");
    EXPECT_TRUE(report.ports.empty());
    EXPECT_EQ(report.messages, std::vector<std::string>{dialog_template::kStartupWarning});
    EXPECT_TRUE(bench.opener.requests.empty());
}

TEST_F(ConsoleCommand, TestPrintsTheScannersVersionBeforeTheMessage) {
    scanner.versionDigits = "FF";
    EXPECT_EQ(Run(Command::kTest), 0);
    EXPECT_EQ(bench.Out(),
              "Scanner version: none\nThe scanner currently contains no CPU application code!\n\n"
              "This update utility contains version 1.10.\n");
    EXPECT_EQ(bench.opener.requests.size(), 1u) << "test starts no upload";
    EXPECT_EQ(bench.opener.requests[0].name, "\\\\.\\COM4");
}

TEST_F(ConsoleCommand, TestShowsTheQuestionWithoutAskingAndStartsNothing) {
    scanner.versionDigits = "1A";
    bench.SetAnswers(/*inputIsTerminal=*/true, /*assumeYes=*/false);
    bench.input.lines = {"y"};
    EXPECT_EQ(Run(Command::kTest), 0);
    EXPECT_EQ(bench.input.reads, 0);
    EXPECT_NE(bench.Out().find("Scanner version: 1.100\n"), std::string::npos) << bench.Out();
    EXPECT_NE(bench.Out().find("is older than what your scanner"), std::string::npos);
    EXPECT_EQ(bench.opener.requests.size(), 1u);
    EXPECT_TRUE(scanner.upload.startPacket.empty());
}

TEST_F(ConsoleCommand, UpdateRunsTestThenUploadInsideTheKeepAwakeHold) {
    EXPECT_EQ(Run(Command::kUpdate), 0);
    EXPECT_EQ(scanner.upload.image, Bytes(firmware->image, firmware->image + 250));
    ASSERT_EQ(bench.opener.requests.size(), 2u);
    EXPECT_EQ(bench.opener.requests[1].name, "\\\\.\\COM4") << "UPDATE uses TEST's port";
    const int begin = bench.log.IndexOf("keep awake begin");
    const int end = bench.log.IndexOf("keep awake end");
    const int startPacket = bench.log.IndexOf("port write 10 -> 10");
    ASSERT_GE(begin, 0);
    EXPECT_LT(begin, startPacket);
    EXPECT_GT(end, startPacket);
    EXPECT_EQ(bench.log.entries[static_cast<std::size_t>(end) - 1], "port close")
        << "the hold ends once the port is closed";
    // The warning, then TEST's outcome, then the completion text.
    const std::string out = bench.Out();
    EXPECT_EQ(out.find(dialog_template::kStartupWarning), 0u);
    EXPECT_LT(out.find("Scanner version: 1.00\n"), out.find(TR_TEXT_COMPLETION));
    EXPECT_NE(bench.Err().find("Upgrading CPU\n"), std::string::npos);
    EXPECT_NE(bench.Err().find("Waiting for CPU approval\n"), std::string::npos);
}

TEST_F(ConsoleCommand, AQuestionAnsweredOnTheTerminalNeedsYesToGoOn) {
    for (const auto& [typed, code] :
         std::vector<std::pair<std::string, int>>{{"", 6}, {" Y ", 0}, {"no", 6}, {"yess", 6}}) {
        SCOPED_TRACE("typed '" + typed + "'");
        ConsoleBench b(*firmware);
        ConsoleScanner s(b.port, firmware->imageLength);
        b.SetAnswers(/*inputIsTerminal=*/true, /*assumeYes=*/false);
        b.input.lines = {typed};
        s.Begin();
        CommandReport r;
        EXPECT_EQ(RunUpdateCommand(*b.surroundings, {Com(kCom)}, r), code);
        EXPECT_EQ(b.Err().find("[y/N] "), 0u);
        EXPECT_EQ(b.opener.requests.size(), code == 0 ? 2u : 0u);
    }
}

TEST_F(ConsoleCommand, CtrlCDuringTestEndsAtOnceWithThePortClosed) {
    auto onQuery = bench.port.onWrite;
    bench.port.onWrite = [&](const fakes::WriteRecord& write) {
        bench.interrupts.Press();
        onQuery(write);
    };
    EXPECT_EQ(Run(Command::kTest), 130);
    EXPECT_EQ(bench.log.WithPrefix("port write").size(), 1u) << "nothing after the query";
    EXPECT_EQ(bench.log.entries.back(), "port close");
    EXPECT_EQ(bench.Out(), "") << "no message for an interruption";
}

TEST_F(ConsoleCommand, CtrlCAtTheWarningPromptEndsBeforeAnyPortIsOpened) {
    bench.SetAnswers(/*inputIsTerminal=*/true, /*assumeYes=*/false);
    bench.input.lines = {"^C"};
    EXPECT_EQ(Run(Command::kUpdate), 130);
    EXPECT_TRUE(bench.opener.requests.empty());
}

namespace {

// A hold on sleep and shutdown that waits for the system bus, running the pump meanwhile as
// logind's does, while Ctrl+C is pressed.
class PressedWhileHeld final : public IKeepAwake {
public:
    explicit PressedWhileHeld(ConsoleInterrupts& interrupts) : m_interrupts(interrupts) {}
    void Begin(IEventPump* pump) override {
        m_interrupts.Press();
        if (pump != nullptr) {
            pump->MaybePump();
        }
        ++held;
    }
    void End() override { --held; }
    int held = 0;

private:
    ConsoleInterrupts& m_interrupts;
};

}  // namespace

// The press comes after TEST, before the upload has begun: it ends the run at once, and is not
// taken for an upload's first press.
TEST_F(ConsoleCommand, CtrlCWhileTheHoldIsTakenEndsBeforeTheUpload) {
    PressedWhileHeld hold(bench.interrupts);
    const ConsoleSurroundings& b = *bench.surroundings;
    ConsoleSurroundings s{b.console,  b.opener,         b.clock,         hold,
                          b.firmware, b.firmwareSha256, b.describePorts, b.whyNotOpened};
    scanner.Begin();
    EXPECT_EQ(RunUpdateCommand(s, {Com(kCom)}, report), 130) << bench.Err();
    EXPECT_TRUE(scanner.upload.startPacket.empty()) << "no upload began";
    EXPECT_EQ(bench.opener.requests.size(), 1u) << "TEST's port alone";
    EXPECT_EQ(bench.log.WithPrefix("port close").size(), 1u);
    EXPECT_EQ(hold.held, 0);
    EXPECT_EQ(bench.Err().find(kUploadUnderWayNotice), std::string::npos);
}

TEST_F(ConsoleCommand, OneCtrlCDuringTheUploadOnlyWarns) {
    PressOnPackets(bench, {0});
    EXPECT_EQ(Run(Command::kUpdate), 0);
    EXPECT_EQ(scanner.upload.image.size(), 250u);
    const std::string err = bench.Err();
    const auto notice = err.find(kUploadUnderWayNotice);
    ASSERT_NE(notice, std::string::npos) << err;
    EXPECT_EQ(err.find(kUploadUnderWayNotice, notice + 1), std::string::npos) << "said once";
}

TEST_F(ConsoleCommand, TheSecondCtrlCAbandonsTheUploadThroughItsCleanUp) {
    PressOnPackets(bench, {0, 1});
    EXPECT_EQ(Run(Command::kUpdate), 130);
    EXPECT_EQ(scanner.upload.sendsPerPacket.size(), 2u) << "no third packet";
    // The upload's own clean-up closed the port; the hold was given back after it.
    const auto& entries = bench.log.entries;
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2], "port close");
    EXPECT_EQ(entries.back(), "keep awake end");
    EXPECT_EQ(bench.keepAwake.held, 0);
    EXPECT_NE(bench.Err().find(kUploadAbandonedNotice), std::string::npos);
    EXPECT_EQ(bench.Out().find(TR_TEXT_COMPLETION), std::string::npos);
}
