// Ctrl+C on Windows: the console's Ctrl+C and Ctrl+Break events count a press. The handler runs
// on a thread of its own and returns at once; the program's thread acts on the count.
#include <windows.h>

#include <atomic>

#include "console_interrupts.h"

namespace {

std::atomic<ConsoleInterrupts*> g_interrupts{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
    ConsoleInterrupts* interrupts = g_interrupts.load();
    if (interrupts == nullptr || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)) {
        return FALSE;  // closing the console, logging off: the system's own handling
    }
    interrupts->Press();
    return TRUE;
}

}  // namespace

void InstallInterruptHandlers(ConsoleInterrupts& interrupts) {
    g_interrupts.store(&interrupts);
    // A program started in a new process group inherits Ctrl+C switched off; switch it on.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
