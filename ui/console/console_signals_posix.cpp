// Ctrl+C on Linux: SIGINT counts a press; SIGTERM and SIGHUP (a closed terminal window) end the
// program as a second press would, so that the port is closed cleanly then too. Without
// SA_RESTART, a read of the terminal that Ctrl+C interrupts returns, so the prompt sees it.
#include <signal.h>

#include <atomic>

#include "console_interrupts.h"

namespace {

std::atomic<ConsoleInterrupts*> g_interrupts{nullptr};

extern "C" void OnInterrupt(int) {
    if (ConsoleInterrupts* interrupts = g_interrupts.load()) {
        interrupts->Press();
    }
}

extern "C" void OnTerminate(int) {
    if (ConsoleInterrupts* interrupts = g_interrupts.load()) {
        interrupts->Terminate();
    }
}

void Install(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void InstallInterruptHandlers(ConsoleInterrupts& interrupts) {
    g_interrupts.store(&interrupts);
    Install(SIGINT, OnInterrupt);
    Install(SIGTERM, OnTerminate);
    Install(SIGHUP, OnTerminate);
    // A reader of the progress that goes away (`| head`) must not kill an upload half-way: the
    // write then fails and the upload goes on.
    signal(SIGPIPE, SIG_IGN);
}
