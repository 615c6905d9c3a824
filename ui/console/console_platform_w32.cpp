// The console program's platform pieces on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004  // older MinGW headers lack it
#endif

#include "console_interrupts.h"
#include "console_platform.h"

namespace {

constexpr std::size_t kLongestAnswer = 1024;  // the rest of a longer line is dropped
// The console-control handler runs on a thread of its own, and a console read that Ctrl+C
// breaks may return before it has counted the press: how long to wait for the count.
constexpr int kPressSettleMs = 200;

class WindowsStandardInput final : public ITerminalInput {
public:
    explicit WindowsStandardInput(ConsoleInterrupts& interrupts) : m_interrupts(interrupts) {}

    LineRead ReadLine(std::string& line) override {
        line.clear();
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        for (;;) {
            char c = 0;
            DWORD got = 0;
            if (!ReadFile(input, &c, 1, &got, nullptr) || got == 0) {
                return Interrupted()  ? LineRead::kInterrupted
                       : line.empty() ? LineRead::kEnd
                                      : LineRead::kLine;
            }
            if (c == '\n') {
                return LineRead::kLine;
            }
            if (c != '\r' && line.size() < kLongestAnswer) {
                line += c;
            }
        }
    }

private:
    bool Interrupted() {
        for (int waited = 0; waited < kPressSettleMs; waited += 10) {
            if (m_interrupts.Pending()) {
                return true;
            }
            Sleep(10);
        }
        return m_interrupts.Pending();
    }

    ConsoleInterrupts& m_interrupts;
};

}  // namespace

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

namespace {

DWORD g_errorModeBefore = 0;
bool g_errorModeChanged = false;

}  // namespace

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
    if (SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0) {
        return false;
    }
    g_errorModeBefore = mode;
    g_errorModeChanged = true;
    return true;
}

void EndCursorMovement() {
    if (g_errorModeChanged) {
        SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), g_errorModeBefore);
        g_errorModeChanged = false;
    }
}

std::unique_ptr<ITerminalInput> CreateStandardInput(ConsoleInterrupts& interrupts) {
    return std::make_unique<WindowsStandardInput>(interrupts);
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
