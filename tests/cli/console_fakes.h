// Stand-ins for the console commands' surroundings, on top of the exchange fakes: a scanner
// that also answers TEST's query, typed answers, a recording keep-awake hold, and ports by name.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "exchange_fakes.h"

namespace consolefakes {

// A record small enough for quick runs: three packets (120, 120, 10 bytes).
std::unique_ptr<FirmwarePayload> SmallFirmware();

// The scanner for a whole `update`: 'C' for TEST, a version reply to the query, 'C' again after
// TEST's ACK for UPDATE, then whatever the ScriptedScanner is told for the upload.
class ConsoleScanner {
public:
    ConsoleScanner(fakes::ScriptedPort& port, std::uint32_t imageLength);
    // Starts the script: the first ready byte.
    void Begin();

    fakes::ScriptedScanner upload;
    bool sendReady = true;    // false: never a ready byte
    bool answerQuery = true;  // false: the query goes unanswered
    std::string versionDigits = "10";
    int queries = 0;

private:
    fakes::ScriptedPort& m_port;
};

// Typed answers, one per question; Ctrl+C where the script says "^C".
class ScriptedInput : public ITerminalInput {
public:
    explicit ScriptedInput(ConsoleInterrupts& interrupts) : m_interrupts(interrupts) {}
    LineRead ReadLine(std::string& line) override;
    std::deque<std::string> lines;
    int reads = 0;

private:
    ConsoleInterrupts& m_interrupts;
};

// A keep-awake hold that logs Begin and End.
class RecordingKeepAwake : public IKeepAwake {
public:
    explicit RecordingKeepAwake(fakes::EventLog& log) : m_log(log) {}
    void Begin(IEventPump*) override {
        m_log.Add("keep awake begin");
        ++held;
    }
    void End() override {
        m_log.Add("keep awake end");
        --held;
    }
    int held = 0;

private:
    fakes::EventLog& m_log;
};

// The digest the bench's surroundings give `info`: the program's is the build's.
inline constexpr const char* kBenchSha256 =
    "00112233445566778899aabbccddeeff"
    "00112233445566778899aabbccddeeff";

// One console command's whole surroundings, with output captured.
struct ConsoleBench {
    explicit ConsoleBench(const FirmwarePayload& firmware, bool errIsTerminal = false,
                          bool quiet = false);
    // Rebuilds the console with how questions are answered: a terminal on standard input, --yes.
    void SetAnswers(bool inputIsTerminal, bool assumeYes);
    std::string Out() const { return out.str(); }
    std::string Err() const { return err.str(); }

    fakes::EventLog log;
    fakes::VirtualClock clock;
    fakes::ScriptedPort port{clock, log};
    fakes::ScriptedOpener opener{port, log};
    std::ostringstream out;
    std::ostringstream err;
    ConsoleModes modes;
    ConsoleInterrupts interrupts;
    ScriptedInput input{interrupts};
    std::unique_ptr<Console> console;
    RecordingKeepAwake keepAwake{log};
    std::vector<comports::ComPortInfo> ports;
    std::string whyNotOpened;             // what the look at a port that was not opened says
    std::vector<std::string> whyAskedOf;  // the ports it was asked about
    std::unique_ptr<ConsoleSurroundings> surroundings;
    const FirmwarePayload& firmware;
};

}  // namespace consolefakes
