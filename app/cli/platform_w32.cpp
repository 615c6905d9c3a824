// The console program on Windows. The console's Ctrl+C and Ctrl+Break events count a press.
// Closing the console window, logging off and shutting down end the program as a second press
// would: the system ends the process once the handler returns, so the handler, which runs on a
// thread of its own, waits within the few seconds the system allows until the run has closed
// its ports.
#include "platform_w32.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <mutex>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004  // older MinGW headers lack it
#endif

#include "options.h"
#include "platform.h"

namespace {

// The run's presses; the handler's thread and the run's end take turns on it, so that no press
// reaches it once it is gone.
std::mutex g_mutex;
ConsoleInterrupts* g_interrupts = nullptr;

// Set when the run is over and its ports closed; made once for the whole process, so that a
// handler still waiting on it never waits on a closed handle.
HANDLE RunEnded() {
    static const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return event;
}

// A console read that Ctrl+C breaks may return before the handler's thread has counted the
// press: how long to wait for the count.
constexpr int kPressSettleMs = 200;

DWORD g_errorModeBefore = 0;
bool g_errorModeChanged = false;

}  // namespace

BOOL WINAPI OnConsoleControl(DWORD event) {
    const bool press = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    if (!press && event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT &&
        event != CTRL_SHUTDOWN_EVENT) {
        return FALSE;
    }
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        if (g_interrupts == nullptr) {
            return FALSE;  // no run: the system's own handling
        }
        if (press) {
            g_interrupts->Press();
        } else {
            g_interrupts->Terminate();
        }
    }
    if (!press) {
        WaitForSingleObject(RunEnded(), kEndRequestGraceMs);
    }
    return TRUE;
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

bool IsTerminal(StandardStream stream) {
    const DWORD which = stream == StandardStream::kInput    ? STD_INPUT_HANDLE
                        : stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE
                                                            : STD_ERROR_HANDLE;
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

void PrepareStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool BeginCursorMovement() {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(error, &mode) == 0) {
        return false;
    }
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
        return true;
    }
    // Consoles before Windows 10 refuse the flag: several ports then get plain lines.
    g_errorModeChanged = SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    g_errorModeBefore = mode;
    return g_errorModeChanged;
}

void EndCursorMovement() {
    if (g_errorModeChanged) {
        SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), g_errorModeBefore);
        g_errorModeChanged = false;
    }
}

LineRead ReadStandardInputByte(char& c, ConsoleInterrupts& interrupts) {
    DWORD got = 0;
    do {
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) || got == 0) {
            for (int waited = 0; waited < kPressSettleMs && !interrupts.Pending(); waited += 10) {
                Sleep(10);
            }
            return interrupts.Pending() ? LineRead::kInterrupted : LineRead::kEnd;
        }
    } while (c == '\r');  // a line ends in CR LF here
    return LineRead::kLine;
}

std::optional<PortArgument> DevicePathArgument(const std::string&) {
    return std::nullopt;
}

bool DevicePathsAccepted() {
    return false;
}

bool SamePortDevice(const std::string& a, const std::string& b) {
    return a == b;
}
