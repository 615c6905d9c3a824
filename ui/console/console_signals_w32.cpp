// Ctrl+C on Windows: the console's Ctrl+C and Ctrl+Break events count a press. Closing the
// console window, logging off and shutting down end the program as a second press would: the
// system ends the process once the handler returns, so the handler waits, within the few
// seconds the system allows, until the run has closed its ports. The handler runs on a thread
// of its own; the program's threads act on the count.
#include "console_signals_w32.h"

#include <mutex>

#include "console_interrupts.h"

namespace {

// The run's presses; the handler's thread and the run's end take turns on it under the mutex,
// so that no press reaches it once it is gone.
std::mutex g_mutex;
ConsoleInterrupts* g_interrupts = nullptr;

// Hands the event to the run; false when there is none.
bool Deliver(DWORD event) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (g_interrupts == nullptr) {
        return false;
    }
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        g_interrupts->Press();
    } else {
        g_interrupts->Terminate();
    }
    return true;
}

// Set when the run is over and its ports closed; made once, for the whole process, so that a
// handler still waiting on it never waits on a closed handle.
HANDLE RunEnded() {
    static const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return event;
}

}  // namespace

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            return Deliver(event) ? TRUE : FALSE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            if (!Deliver(event)) {
                return FALSE;  // no run: the system's own handling
            }
            WaitForSingleObject(RunEnded(), kEndRequestGraceMs);
            return TRUE;
        default:
            return FALSE;
    }
}

InterruptHandlers::InterruptHandlers(ConsoleInterrupts& interrupts) {
    ResetEvent(RunEnded());
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        g_interrupts = &interrupts;
    }
    // A program started in a new process group inherits Ctrl+C switched off; switch it on.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

InterruptHandlers::~InterruptHandlers() {
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        g_interrupts = nullptr;
    }
    SetEvent(RunEnded());  // a waiting end request lets the system go on now
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

int EndAsInterrupted(int exitCode) {
    return exitCode;
}
