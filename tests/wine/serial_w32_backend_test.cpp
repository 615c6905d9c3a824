// The Win32 CSerial against a scripted driver behind Win32Api: transfers that are cancelled
// when their limit runs out, a CancelIo that fails, a driver that never gives a request back,
// the order in which the handles go, and the input wait by WaitCommEvent or a watch read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "cserial.h"
#include "log_capture.h"
#include "serial_w32.h"

namespace {

const HANDLE kPort = reinterpret_cast<HANDLE>(0x100);

// A driver that leaves every transfer and wait pending until the script says otherwise, and
// records the calls that matter here.
class ScriptedDriver : public Win32Api {
public:
    HANDLE CreateFileA(LPCSTR, DWORD, DWORD, DWORD, DWORD) override { return kPort; }
    HANDLE CreateEventA(BOOL, BOOL) override {
        const HANDLE event = reinterpret_cast<HANDLE>(0x200 + m_events++);
        m_names[event] = m_events == 1 ? "transfer-event" : "wait-event";
        return event;
    }
    BOOL CloseHandle(HANDLE handle) override { return Note("CloseHandle " + Name(handle)); }
    BOOL GetCommState(HANDLE, DCB*) override { return TRUE; }
    BOOL SetCommState(HANDLE, DCB*) override { return TRUE; }
    BOOL SetCommTimeouts(HANDLE, COMMTIMEOUTS*) override { return TRUE; }
    BOOL ClearCommError(HANDLE, DWORD* errors, COMSTAT* status) override {
        if (Fails("ClearCommError")) {
            return FALSE;
        }
        *errors = 0;
        status->cbInQue = inQueue;
        return TRUE;
    }
    BOOL GetCommModemStatus(HANDLE, DWORD* status) override {
        *status = 0;
        return modemStatusKnown;
    }
    BOOL SetCommMask(HANDLE, DWORD mask) override {
        return Note("SetCommMask " + std::to_string(mask));
    }
    BOOL WaitCommEvent(HANDLE, DWORD* mask, OVERLAPPED*) override {
        m_waitMask = mask;
        Note("WaitCommEvent");
        return Fails("WaitCommEvent") ? FALSE : Pending();
    }
    BOOL ReadFile(HANDLE, void* buffer, DWORD count, DWORD* moved, OVERLAPPED* record) override {
        driverBuffer = static_cast<unsigned char*>(buffer);
        m_count = count;
        *moved = 0;
        Note("ReadFile " + std::to_string(count) + " " + Record(record));
        if (readsRefused) {
            m_lastError = ERROR_ACCESS_DENIED;
            return FALSE;
        }
        if (Fails("ReadFile")) {
            return FALSE;
        }
        const std::size_t arrived = std::min<std::size_t>(count, incoming.size());
        std::memcpy(buffer, incoming.data(), arrived);
        incoming.erase(0, arrived);
        return Pending();
    }
    BOOL WriteFile(HANDLE, const void* buffer, DWORD count, DWORD* moved,
                   OVERLAPPED* record) override {
        driverBuffer = static_cast<unsigned char*>(const_cast<void*>(buffer));
        m_count = count;
        *moved = 0;
        Note("WriteFile " + std::to_string(count) + " " + Record(record));
        return Fails("WriteFile") ? FALSE : Pending();
    }
    // The scripted answers for event, in order; WAIT_TIMEOUT once they are used up.
    DWORD WaitForSingleObject(HANDLE event, DWORD limitMs) override {
        Note("Wait " + Name(event) + " " + std::to_string(limitMs));
        auto& answers = waits[Name(event)];
        if (answers.empty()) {
            return WAIT_TIMEOUT;
        }
        const DWORD answer = answers.front();
        answers.pop_front();
        if (answer == WAIT_OBJECT_0 && Name(event) == "wait-event" && m_waitMask != nullptr) {
            *m_waitMask = eventMask;
        }
        return answer;
    }
    BOOL GetOverlappedResult(HANDLE, OVERLAPPED*, DWORD* moved, BOOL wait) override {
        // A driver that does not give a request back would block a waiting call for ever.
        EXPECT_FALSE(wait) << "GetOverlappedResult must not wait without a bound";
        *moved = m_count;
        if (!moves.empty()) {
            *moved = moves.front();
            moves.pop_front();
        }
        Note(std::string("GetOverlappedResult") + (wait ? " waiting" : ""));
        if (Fails("GetOverlappedResult")) {
            *moved = 0;
            return FALSE;
        }
        return TRUE;
    }
    BOOL CancelIo(HANDLE) override {
        Note("CancelIo");
        m_lastError = ERROR_NOT_FOUND;
        return cancelSucceeds;
    }
    BOOL ResetEvent(HANDLE) override { return TRUE; }
    DWORD GetLastError() override { return m_lastError; }
    DWORD GetTickCount() override { return 1000; }
    void Sleep(DWORD ms) override {
        Note("Sleep " + std::to_string(ms));
        if (++sleeps == inputAfterSleeps) {
            inQueue = 1;
        }
    }

    // The calls whose name begins with prefix, in order.
    std::vector<std::string> Calls(const std::string& prefix = "") const {
        std::vector<std::string> found;
        for (const auto& call : m_calls) {
            if (call.rfind(prefix, 0) == 0) {
                found.push_back(call);
            }
        }
        return found;
    }
    void ClearCalls() { m_calls.clear(); }

    bool cancelSucceeds = true;
    bool modemStatusKnown = true;
    DWORD inQueue = 0;
    DWORD eventMask = EV_RXCHAR;  // what a signalled input wait reports
    int sleeps = 0;
    int inputAfterSleeps = -1;  // input is waiting from this Sleep on
    std::map<std::string, std::deque<DWORD>> waits;
    std::deque<DWORD> moves;  // what the next results report moved, else the whole request
    std::string incoming;     // the bytes the next reads will have moved when they complete
    bool readsRefused = false;
    std::map<std::string, DWORD> failures;  // the calls that fail, each with its error
    unsigned char* driverBuffer = nullptr;  // where the last transfer moves its bytes

private:
    BOOL Note(const std::string& call) {
        m_calls.push_back(call);
        return TRUE;
    }
    BOOL Pending() {
        m_lastError = ERROR_IO_PENDING;
        return FALSE;
    }
    // Whether call is scripted to fail; its error is then the last error.
    bool Fails(const std::string& call) {
        const auto found = failures.find(call);
        if (found == failures.end()) {
            return false;
        }
        m_lastError = found->second;
        return true;
    }
    std::string Name(HANDLE handle) const {
        if (handle == kPort) {
            return "port";
        }
        const auto found = m_names.find(handle);
        return found != m_names.end() ? found->second : "unknown";
    }
    // Each record the driver got, numbered in the order first seen.
    std::string Record(OVERLAPPED* record) {
        const auto entry = m_records.emplace(record, m_records.size()).first;
        return "record" + std::to_string(entry->second);
    }

    int m_events = 0;
    std::map<HANDLE, std::string> m_names;
    std::map<OVERLAPPED*, std::size_t> m_records;
    std::vector<std::string> m_calls;
    DWORD m_lastError = 0;
    DWORD m_count = 0;
    DWORD* m_waitMask = nullptr;
};

class BackendTest : public ::testing::Test {
protected:
    void Open() {
        port = std::make_unique<CSerial>("\\\\.\\COM3", 115200, 'N', 8, 1, true, true, *platform);
        driver.ClearCalls();
    }

    LogCapture logs;
    ScriptedDriver driver;
    std::unique_ptr<SerialPlatform> platform = CreateWin32SerialPlatform(driver);
    std::unique_ptr<CSerial> port;
};

struct Abandoned {
    const char* name;
    bool write;
    bool cancelSucceeds;
    bool givenBack;  // the cancelled transfer comes back within the bound
};

class TimedOutTransfer : public BackendTest, public ::testing::WithParamInterface<Abandoned> {};

TEST_P(TimedOutTransfer, IsEndedWithinABoundAndNeverReachesTheCallersBufferLater) {
    const Abandoned& c = GetParam();
    driver.cancelSucceeds = c.cancelSucceeds;
    if (c.givenBack) {
        driver.waits["transfer-event"] = {WAIT_TIMEOUT, WAIT_OBJECT_0};
    }
    Open();
    unsigned char buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(c.write ? port->Write(buffer, 4, 1000) : port->Read(buffer, 4, 1000), 0);
    // The limit, the cancel, and a bounded wait for the request: also when the cancel failed.
    const auto waits = driver.Calls("Wait ");
    ASSERT_EQ(waits.size(), 2u);
    EXPECT_EQ(waits[0], "Wait transfer-event 1000");
    unsigned bound = 0;
    ASSERT_EQ(std::sscanf(waits[1].c_str(), "Wait transfer-event %u", &bound), 1);
    EXPECT_LE(bound, 5000u) << "the wait after the cancel is bounded";
    EXPECT_EQ(driver.Calls("CancelIo").size(), 1u);
    EXPECT_EQ(logs.Lines().back(),
              c.write ? "CSerial::Write (writing data) - WaitForSingleObject() timed out"
                      : "CSerial::Read - WaitForSingleObject() timed out");

    // The caller reuses its buffer; then the driver completes late, storing or sending.
    buffer[0] = 9;
    ASSERT_NE(driver.driverBuffer, nullptr);
    if (c.write) {
        EXPECT_EQ(driver.driverBuffer[0], 1) << "the driver sends what the call was given";
    } else {
        driver.driverBuffer[0] = 0xAB;
        EXPECT_EQ(buffer[0], 9) << "a late read does not land in the caller's buffer";
    }

    // A request given back frees the port; one the driver keeps fails the port from then on,
    // rather than reusing the record it may still write to.
    driver.inQueue = 5;
    EXPECT_EQ(port->BytesWaiting(), c.givenBack ? 5 : 0);
    driver.ClearCalls();
    driver.waits["transfer-event"] = {WAIT_OBJECT_0};
    EXPECT_EQ(port->Read(buffer, 1, 1000), c.givenBack ? 1 : 0);
    if (c.givenBack) {
        EXPECT_EQ(driver.Calls("ReadFile"), std::vector<std::string>{"ReadFile 1 record0"});
    } else {
        EXPECT_TRUE(driver.Calls("ReadFile").empty());
        const std::string code = c.cancelSucceeds ? "0x00000102" : "0x00000490";
        EXPECT_EQ(logs.Lines().back(),
                  "CSerial::Read - ReadFile() failed, GetLastError()==" + code);
    }

    // The port goes first, then the events; the event of a request the driver keeps stays.
    driver.ClearCalls();
    port.reset();
    std::vector<std::string> closes{"CloseHandle port", "CloseHandle transfer-event",
                                    "CloseHandle wait-event"};
    if (!c.givenBack) {
        closes.erase(closes.begin() + 1);
    }
    EXPECT_EQ(driver.Calls("CloseHandle"), closes);
}

INSTANTIATE_TEST_SUITE_P(
    EveryWay, TimedOutTransfer,
    ::testing::Values(Abandoned{"ReadCancelledAndBack", false, true, true},
                      Abandoned{"ReadCancelFailsButBack", false, false, true},
                      Abandoned{"ReadCancelFailsNeverBack", false, false, false},
                      Abandoned{"ReadCancelledNeverBack", false, true, false},
                      Abandoned{"WriteCancelFailsButBack", true, false, true},
                      Abandoned{"WriteCancelFailsNeverBack", true, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackendTest, InputWaitIsOneWaitCommEventWaitedForTheLimitThenCancelled) {
    driver.waits["wait-event"] = {WAIT_TIMEOUT, WAIT_OBJECT_0};
    Open();
    port->WaitForInput(7);
    EXPECT_EQ(driver.Calls(),
              (std::vector<std::string>{"SetCommMask 1", "WaitCommEvent", "Wait wait-event 7",
                                        "CancelIo", "Wait wait-event 500", "GetOverlappedResult"}));
    // An event within the limit ends the wait at once; the mask is set only the first time.
    driver.ClearCalls();
    driver.waits["wait-event"] = {WAIT_OBJECT_0};
    port->WaitForInput(1000);
    EXPECT_EQ(driver.Calls(), (std::vector<std::string>{"WaitCommEvent", "Wait wait-event 1000",
                                                        "GetOverlappedResult"}));
    // Input already waiting when the wait starts raises no event: the wait is ended at once.
    driver.ClearCalls();
    driver.inQueue = 1;
    driver.waits["wait-event"] = {WAIT_OBJECT_0};
    port->WaitForInput(1000);
    EXPECT_TRUE(driver.Calls("Wait wait-event 1000").empty());
    EXPECT_EQ(driver.Calls("CancelIo").size(), 1u);
}

TEST_F(BackendTest, InputWaitTheDriverKeepsIsGivenUpAndTheDriverLookedAtInstead) {
    driver.cancelSucceeds = false;
    Open();
    port->WaitForInput(1);
    // Neither the cancel nor a new mask brought the wait back within the bound.
    EXPECT_EQ(driver.Calls("SetCommMask").size(), 2u);
    EXPECT_EQ(driver.Calls("Wait wait-event").size(), 3u);
    driver.ClearCalls();
    driver.inputAfterSleeps = driver.sleeps + 3;
    port->WaitForInput(10);
    EXPECT_TRUE(driver.Calls("WaitCommEvent").empty()) << "no second wait on a kept record";
    EXPECT_EQ(driver.Calls("Sleep"), std::vector<std::string>(3, "Sleep 1"))
        << "looked at every millisecond until the input came";
    driver.ClearCalls();
    port.reset();
    EXPECT_EQ(driver.Calls("CloseHandle"),
              (std::vector<std::string>{"CloseHandle port", "CloseHandle transfer-event"}));
}

struct CannotWait {
    const char* name;
    bool modemStatusKnown;
    DWORD eventMask;                  // what the driver's wait reports when it ends by itself
    std::deque<DWORD> decidingWaits;  // the answers to the first wait, which finds that out
};

class DriverThatCannotWait : public BackendTest,
                             public ::testing::WithParamInterface<CannotWait> {};

// Wine's pseudo-terminal ports, for one: the wait is a one-byte read whose byte is held, counted
// as waiting and delivered first, so that the caller sleeps until the byte comes.
TEST_P(DriverThatCannotWait, WaitsOnAOneByteReadWhoseByteComesFirst) {
    driver.modemStatusKnown = GetParam().modemStatusKnown;
    driver.eventMask = GetParam().eventMask;
    driver.waits["wait-event"] = GetParam().decidingWaits;
    Open();
    port->WaitForInput(1);
    port->WaitForInput(50);
    driver.ClearCalls();
    port->WaitForInput(5);
    EXPECT_EQ(driver.Calls(), std::vector<std::string>{"Wait wait-event 5"})
        << "a watch read under way is waited on again, not started twice, and nothing spins";

    // The byte comes: the wait ends, the byte is counted and read first, before the driver's.
    driver.driverBuffer[0] = 'C';
    driver.waits["wait-event"] = {WAIT_OBJECT_0};
    port->WaitForInput(1000);
    driver.inQueue = 2;
    EXPECT_EQ(port->BytesWaiting(), 3);
    driver.incoming = "AB";
    driver.waits["transfer-event"] = {WAIT_OBJECT_0};
    char bytes[4] = {};
    EXPECT_EQ(port->Read(bytes, 3, 1000), 3);
    EXPECT_STREQ(bytes, "CAB");

    // A read while the watch is under way ends it first; a byte it took meanwhile comes first.
    for (const DWORD took : {0u, 1u}) {
        SCOPED_TRACE(took == 1 ? "the watch took a byte" : "the watch took none");
        driver.inQueue = 0;
        port->WaitForInput(5);
        driver.driverBuffer[0] = 'X';
        driver.ClearCalls();
        // Still under way when the read looks at the queue; back at once when cancelled.
        driver.waits["wait-event"] = {WAIT_TIMEOUT, WAIT_OBJECT_0};
        driver.waits["transfer-event"] = {WAIT_OBJECT_0};
        driver.moves = {took};
        driver.incoming = took == 1 ? "" : "Y";
        char byte = 0;
        EXPECT_EQ(port->Read(&byte, 1, 1000), 1);
        EXPECT_EQ(byte, took == 1 ? 'X' : 'Y');
        std::vector<std::string> calls = driver.Calls();
        calls.erase(calls.begin(), std::find(calls.begin(), calls.end(), "CancelIo"));
        calls.resize(std::min<std::size_t>(calls.size(), 4));
        std::vector<std::string> expected{"CancelIo", "Wait wait-event 500", "GetOverlappedResult"};
        if (took == 0) {
            expected.push_back("ReadFile 1 record1");  // the transfer's record, not the watch's
        }
        EXPECT_EQ(calls, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, DriverThatCannotWait,
    ::testing::Values(CannotWait{"NoModemStatus", false, EV_RXCHAR, {}},
                      CannotWait{"WaitEndsWithAnEmptyMask", true, 0, {WAIT_OBJECT_0}}),
    [](const auto& info) { return std::string(info.param.name); });

// A port whose first input wait has left a watch read under way.
class WatchingPort : public BackendTest {
protected:
    void SetUp() override {
        driver.modemStatusKnown = false;
        Open();
        port->WaitForInput(1);
        ASSERT_EQ(driver.Calls("ReadFile").size(), 1u);
        driver.ClearCalls();
    }
};

TEST_F(WatchingPort, WatchReadTheDriverKeepsAtAReadFailsThePort) {
    char byte = 0;
    EXPECT_EQ(port->Read(&byte, 1, 1000), 0);
    EXPECT_TRUE(driver.Calls("ReadFile").empty()) << "no read that could pass the kept one";
    EXPECT_EQ(logs.Lines().back(), "CSerial::Read - ReadFile() failed, GetLastError()==0x00000102");
    driver.inQueue = 4;
    EXPECT_EQ(port->BytesWaiting(), 0);
    driver.ClearCalls();
    port.reset();
    EXPECT_EQ(driver.Calls("CloseHandle"),
              (std::vector<std::string>{"CloseHandle port", "CloseHandle transfer-event"}));
}

class WatchAtClose : public WatchingPort, public ::testing::WithParamInterface<bool> {};

TEST_P(WatchAtClose, IsCancelledBeforeTheCloseAndAwaitedAfterIt) {
    const bool givenBack = GetParam();
    if (givenBack) {
        driver.waits["wait-event"] = {WAIT_OBJECT_0};
    }
    port.reset();
    std::vector<std::string> calls{"CancelIo", "CloseHandle port", "Wait wait-event 500",
                                   "CloseHandle transfer-event", "CloseHandle wait-event"};
    if (!givenBack) {
        calls.pop_back();  // its event stays with the slot the driver may still signal
    }
    EXPECT_EQ(driver.Calls(), calls);
}

INSTANTIATE_TEST_SUITE_P(Drivers, WatchAtClose, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "GivenBack" : "Kept"; });

TEST_F(WatchingPort, WatchReadThatCannotStartIsReplacedByLookingEveryMillisecond) {
    driver.moves = {0};
    driver.waits["wait-event"] = {WAIT_OBJECT_0};  // a hang-up ends the watch with nothing
    driver.readsRefused = true;
    driver.inputAfterSleeps = driver.sleeps + 3;
    port->WaitForInput(10);
    EXPECT_EQ(driver.Calls("Sleep"), std::vector<std::string>(3, "Sleep 1"));
    driver.ClearCalls();
    driver.inQueue = 0;
    driver.inputAfterSleeps = -1;
    port->WaitForInput(5);
    EXPECT_EQ(driver.Calls("ReadFile").size(), 1u) << "a new watch read is tried each time";
    EXPECT_EQ(driver.Calls("Sleep").size(), 5u);
}

// Where a call on the open port fails: the call scripted to fail, and what the port is asked.
enum class FailingCall {
    kReadStart,
    kReadResult,
    kWriteStart,
    kWriteResult,
    kStatusQuery,
    kInputWaitStart,
    kInputWaitResult,
    kWatchReadResult,  // wine's pseudo-terminal ports: the line hangs up under the watch read
};

struct FailedCall {
    DWORD error;
    bool meansGone;
};

class CallFailingWith : public BackendTest,
                        public ::testing::WithParamInterface<std::tuple<FailingCall, FailedCall>> {
protected:
    // Makes the call fail with error and asks the port what reaches it.
    void FailAndAsk(FailingCall call, DWORD error) {
        driver.modemStatusKnown = call != FailingCall::kWatchReadResult;
        Open();
        unsigned char bytes[4] = {};
        switch (call) {
            case FailingCall::kReadStart:
                driver.failures["ReadFile"] = error;
                port->Read(bytes, 4, 1000);
                return;
            case FailingCall::kReadResult:
            case FailingCall::kWriteResult:
                driver.waits["transfer-event"] = {WAIT_OBJECT_0};
                driver.failures["GetOverlappedResult"] = error;
                call == FailingCall::kReadResult ? port->Read(bytes, 4, 1000)
                                                 : port->Write(bytes, 4, 1000);
                return;
            case FailingCall::kWriteStart:
                driver.failures["WriteFile"] = error;
                port->Write(bytes, 4, 1000);
                return;
            case FailingCall::kStatusQuery:
                driver.failures["ClearCommError"] = error;
                port->BytesWaiting();
                return;
            case FailingCall::kInputWaitStart:
                driver.failures["WaitCommEvent"] = error;
                port->WaitForInput(5);
                return;
            case FailingCall::kInputWaitResult:
            case FailingCall::kWatchReadResult:
                if (call == FailingCall::kWatchReadResult) {
                    port->WaitForInput(1);  // leaves the watch read under way
                }
                driver.waits["wait-event"] = {WAIT_OBJECT_0};
                driver.failures["GetOverlappedResult"] = error;
                port->WaitForInput(5);
                return;
        }
    }
};

// Only an error that says the device is gone ends the exchange's waits: one a live port may give
// for a passing reason leaves the port as it was.
TEST_P(CallFailingWith, MarksThePortGoneOnlyForAnErrorThatSaysSo) {
    const auto [call, failed] = GetParam();
    FailAndAsk(call, failed.error);
    const std::string goneLine =
        "CSerial - the port went away: the device was removed or its cable pulled";
    EXPECT_EQ(port->HasGoneAway(), failed.meansGone);
    const auto lines = logs.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), goneLine), failed.meansGone ? 1 : 0);
    if (failed.meansGone) {
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), goneLine) << "after the failed call's own line";
    }
}

std::string CaseName(const ::testing::TestParamInfo<CallFailingWith::ParamType>& info) {
    static const char* const kCalls[] = {"ReadStart",       "ReadResult",     "WriteStart",
                                         "WriteResult",     "StatusQuery",    "InputWaitStart",
                                         "InputWaitResult", "WatchReadResult"};
    const auto& [call, failed] = info.param;
    char error[16];
    std::snprintf(error, sizeof error, "0x%lX", static_cast<unsigned long>(failed.error));
    return std::string(kCalls[static_cast<int>(call)]) + "_" + error;
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, CallFailingWith,
    ::testing::Combine(
        ::testing::Values(FailingCall::kReadStart, FailingCall::kReadResult,
                          FailingCall::kWriteStart, FailingCall::kWriteResult,
                          FailingCall::kStatusQuery, FailingCall::kInputWaitStart,
                          FailingCall::kInputWaitResult, FailingCall::kWatchReadResult),
        ::testing::Values(
            FailedCall{ERROR_BROKEN_PIPE, true}, FailedCall{ERROR_DEVICE_NOT_CONNECTED, true},
            FailedCall{ERROR_DEVICE_REMOVED, true}, FailedCall{ERROR_ACCESS_DENIED, true},
            FailedCall{ERROR_GEN_FAILURE, false}, FailedCall{ERROR_BAD_COMMAND, false},
            FailedCall{ERROR_NOT_READY, false}, FailedCall{ERROR_OPERATION_ABORTED, false})),
    CaseName);

}  // namespace
