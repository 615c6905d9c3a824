// Stand-ins for what the exchanges talk to: a virtual clock, a scripted port and opener, a
// recording view and a scripted scanner. All of them write into one ordered event log, so a
// test can check the order of port, dialog and progress events across them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dialog_exchanges.h"
#include "exchange_io.h"

namespace fakes {

using Bytes = std::vector<std::uint8_t>;

// The ordered record of every event that the fakes saw.
struct EventLog {
    std::vector<std::string> entries;

    // Appends one event.
    void Add(std::string entry) { entries.push_back(std::move(entry)); }
    // The events that begin with prefix, in order.
    std::vector<std::string> WithPrefix(const std::string& prefix) const;
    // The index of the first event equal to entry, or -1.
    int IndexOf(const std::string& entry) const;
};

// Reports a wait that never ends: virtual time passed limitMs. Each user of the fakes defines
// it once: the unit tests as a test failure, the fuzz targets as a crash.
void ReportRunaway(std::uint64_t limitMs);

// Virtual milliseconds: GetTickCount reads them, Sleep advances them, and every poll (Sleep(0),
// BytesWaiting) advances them by a fixed step so that busy loops move on.
class VirtualClock : public exchange::IClock {
public:
    // startTick is the first tick count seen, e.g. just below 2^32 to test a wrap.
    explicit VirtualClock(std::uint32_t startTick = 1000, std::uint32_t pollStepMs = 1)
        : m_startTick(startTick), m_pollStepMs(pollStepMs) {}

    // The start tick plus the virtual time, wrapping at 2^32.
    std::uint32_t GetTickCount() override;
    // Advances by ms; Sleep(0) advances by the poll step.
    void Sleep(std::uint32_t ms) override;

    // Milliseconds of virtual time since the start, without wrap.
    std::uint64_t Now() const { return m_now; }
    // Advances by one poll step.
    void Poll() { Advance(m_pollStepMs); }
    // Advances by ms; reports a runaway and throws once virtual time passes kRunawayMs.
    void Advance(std::uint64_t ms);
    static constexpr std::uint64_t kRunawayMs = 10 * 60 * 1000;
    // Every non-zero Sleep: (virtual time when it began, length).
    const std::vector<std::pair<std::uint64_t, std::uint32_t>>& Sleeps() const { return m_sleeps; }

private:
    std::uint32_t m_startTick;
    std::uint32_t m_pollStepMs;
    std::uint64_t m_now = 0;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> m_sleeps;
};

// One call of Write as the port saw it.
struct WriteRecord {
    std::uint64_t at;  // virtual time of the call
    Bytes bytes;       // what the caller asked to write
    int limitMs;
    int result;
};

// A port whose input arrives at scripted virtual times and which records every write.
class ScriptedPort {
public:
    ScriptedPort(VirtualClock& clock, EventLog& log) : m_clock(clock), m_log(log) {}

    // Bytes that arrive at virtual time atMs (after bytes already scripted for that time).
    void Arrive(std::uint64_t atMs, const Bytes& bytes);
    // Bytes that arrive delayMs from now.
    void ArriveAfter(std::uint64_t delayMs, const Bytes& bytes);
    // The write with this index (0 = first) returns result at once instead of its count.
    void SetWriteResult(std::size_t writeIndex, int result) { m_writeResults[writeIndex] = result; }
    // Every write from this index on returns 0 once its limit has run out, as after a pulled
    // cable.
    void FailWritesFrom(std::size_t writeIndex) { m_failWritesFrom = writeIndex; }
    // The device goes away (a pulled cable the port reports) at virtual time atMs, or delayMs
    // after the write with this index: from then on nothing arrives and writes fail.
    void GoAwayAt(std::uint64_t atMs) { m_goneAt = atMs; }
    void GoAwayAfterWrite(std::size_t writeIndex, std::uint64_t delayMs = 0) {
        m_goAwayAfterWrite = writeIndex;
        m_goAwayDelayMs = delayMs;
    }
    // When the device went away, or will.
    std::uint64_t GoneAt() const { return m_goneAt; }
    // Called after every write, e.g. by a scripted scanner.
    std::function<void(const WriteRecord&)> onWrite;

    // The IPort operations, reached through the proxy that the opener hands out.
    int BytesWaiting();
    int Read(void* buffer, int count, int limitMs);
    int Write(const void* buffer, int count, int limitMs);
    void DrainInput();
    void Close();
    bool HasGoneAway() const { return m_clock.Now() >= m_goneAt; }

    const std::vector<WriteRecord>& Writes() const { return m_writes; }
    bool IsClosed() const { return m_closed; }
    std::uint64_t ClosedAt() const { return m_closedAt; }
    // Reads that did not ask for one byte with the 1000 ms limit, or came unannounced by a
    // BytesWaiting that returned more than 0.
    int irregularReads = 0;
    int drains = 0;

private:
    int Arrived() const;

    VirtualClock& m_clock;
    EventLog& m_log;
    std::multimap<std::uint64_t, std::uint8_t> m_input;
    std::map<std::size_t, int> m_writeResults;
    std::size_t m_failWritesFrom = SIZE_MAX;
    std::uint64_t m_goneAt = UINT64_MAX;
    std::size_t m_goAwayAfterWrite = SIZE_MAX;
    std::uint64_t m_goAwayDelayMs = 0;
    std::vector<WriteRecord> m_writes;
    bool m_announced = false;
    bool m_closed = false;
    std::uint64_t m_closedAt = 0;
};

// One call of IPortOpener::Open as an opener saw it.
struct OpenRequest {
    std::string name;
    int baudRate;
    char parity;
    int dataBits;
    int stopBits;
    bool dtr;
    bool rts;
};

// Opens the scripted port, throws, or yields nothing; records every request.
class ScriptedOpener : public exchange::IPortOpener {
public:
    enum class Mode { kSucceed, kThrowInt, kThrowStd, kReturnNull };

    ScriptedOpener(ScriptedPort& port, EventLog& log) : m_port(port), m_log(log) {}

    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override;

    Mode mode = Mode::kSucceed;
    using Request = OpenRequest;
    std::vector<Request> requests;

private:
    ScriptedPort& m_port;
    EventLog& m_log;
};

// Opens through another opener (the real one, say) and logs "port open <name>", and
// "port close" once the port it handed out has been deleted.
class LoggingPortOpener : public exchange::IPortOpener {
public:
    LoggingPortOpener(exchange::IPortOpener& inner, EventLog& log) : m_inner(inner), m_log(log) {}

    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override;

private:
    exchange::IPortOpener& m_inner;
    EventLog& m_log;
};

// One message box as the view was asked to show it.
struct MessageRecord {
    std::string text;
    unsigned style;
    std::uint64_t at;  // virtual time, when the view has a clock
};

// The dialog: records every call in the log, keeps the control states, answers questions.
class RecordingView : public IDialogControls {
public:
    // clock, when given, stamps the message records with virtual time.
    explicit RecordingView(EventLog& log, const VirtualClock* clock = nullptr);

    int GetPortSelection() override { return portSelection; }
    int ShowMessageBox(const std::string& text, unsigned style) override;
    void EnableControl(int id, bool enable) override;
    void SetControlText(int id, const std::string& text) override;
    void ShowControl(int id) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    std::unique_ptr<exchange::IProgressWindow> CreateProgressWindow() override;

    // Whether the control is enabled now; the dialog starts with TEST and the list enabled.
    bool IsEnabled(int id) const { return m_enabled.at(id); }
    // Sets a control's state as a preceding step left it.
    void SetEnabled(int id, bool enable) { m_enabled[id] = enable; }

    int portSelection = 0;
    int yesNoAnswer = 6;  // IDYES
    bool progressCreationThrows = false;
    bool progressCreationYieldsNull = false;
    std::vector<MessageRecord> messages;
    std::map<int, std::string> texts;
    std::set<int> shown;
    int cursorDepth = 0;    // begun minus ended
    int progressAlive = 0;  // windows created minus deleted
    std::vector<int> progressPositions;
    // Runs while each message box is up, before it is answered.
    std::function<void(const MessageRecord&)> whileMessageShown;

private:
    EventLog& m_log;
    const VirtualClock* m_clock;
    std::map<int, bool> m_enabled;
};

// Bytes to arrive, each entry delayMs after the write that prompts them.
using Script = std::vector<std::pair<std::uint64_t, Bytes>>;

// The scanner's side of an upload: ready byte, go-ahead, an answer to every send of every
// data packet, and the verdict after the last packet. It reassembles frames from what the
// writes accepted and decodes the packets it acknowledges.
class ScriptedScanner {
public:
    // Answers the writes on port.
    ScriptedScanner(ScriptedPort& port, std::uint32_t imageLength);

    // Schedules the ready bytes at readyAtMs; call once the script is set.
    void Begin() { m_port.Arrive(readyAtMs, readyBytes); }
    // The answer to one send of one packet (both counted from 0); ACK after 1 ms when unset.
    // The packet counts as accepted when the first byte of the answer but 0x00 is ACK.
    void AnswerSend(std::size_t packet, std::size_t send, const Script& answer) {
        m_answers[{packet, send}] = answer;
    }

    Bytes readyBytes{'C'};
    std::uint64_t readyAtMs = 150;  // after the utility's 100 ms pause
    Script goAhead{{1, {0x05}}};    // after the start packet
    Script verdict{{1, {0x04}}};    // after the last packet is accepted

    Bytes image;                      // image bytes of the accepted packets, in order
    std::vector<int> sendsPerPacket;  // how often each packet was sent
    int malformedBytes = 0;           // bytes that belonged to no valid frame
    Bytes startPacket;

private:
    void OnWrite(const WriteRecord& write);
    void OnFrame(const Bytes& frame);
    void Play(const Script& script);

    ScriptedPort& m_port;
    std::uint32_t m_imageLength;
    Bytes m_pending;           // written bytes not yet a whole frame
    std::size_t m_packet = 0;  // the packet now being sent
    std::size_t m_send = 0;    // sends of it so far
    std::map<std::pair<std::size_t, std::size_t>, Script> m_answers;
};

// The seven bytes of a version reply carrying the digits d1 d2; badChecksum spoils the last.
Bytes VersionReply(char d1, char d2, bool badChecksum = false);

// Decodes a data packet's image bytes; false when it is no valid frame.
bool DecodeDataPacket(const Bytes& packet, Bytes& image);

}  // namespace fakes
