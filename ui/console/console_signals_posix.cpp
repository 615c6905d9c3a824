// Ctrl+C on Linux: SIGINT counts a press; SIGTERM and SIGHUP (a closed terminal window) end the
// program as a second press would, so that the port is closed cleanly then too. Without
// SA_RESTART, a read of the terminal that Ctrl+C interrupts returns, so the prompt sees it. A
// signal ignored when the program starts (`trap '' INT`, nohup) stays ignored, as the shell
// that ignored it for its commands means.
#include <signal.h>

#include <atomic>

#include "console_interrupts.h"

namespace {

std::atomic<ConsoleInterrupts*> g_interrupts{nullptr};

constexpr int kHandled[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kHandledCount = sizeof kHandled / sizeof kHandled[0];
struct sigaction g_previous[kHandledCount];
bool g_installed[kHandledCount];  // false where the signal was ignored and is left so

bool Ignored(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

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

}  // namespace

InterruptHandlers::InterruptHandlers(ConsoleInterrupts& interrupts) {
    g_interrupts.store(&interrupts);
    for (std::size_t i = 0; i < kHandledCount; ++i) {
        sigaction(kHandled[i], nullptr, &g_previous[i]);
        g_installed[i] = !Ignored(g_previous[i]);
        if (!g_installed[i]) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = kHandled[i] == SIGINT ? OnInterrupt : OnTerminate;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(kHandled[i], &action, nullptr);
    }
    // A reader of the progress that goes away (`| head`) must not kill an upload half-way: the
    // write then fails and the upload goes on. It stays so to the end of the program.
    signal(SIGPIPE, SIG_IGN);
}

InterruptHandlers::~InterruptHandlers() {
    for (std::size_t i = 0; i < kHandledCount; ++i) {
        if (g_installed[i]) {
            sigaction(kHandled[i], &g_previous[i], nullptr);
        }
    }
    g_interrupts.store(nullptr);
}

int EndAsInterrupted(int exitCode) {
    // The shell that started us stops its loop or script only for a child that died of SIGINT.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
    raise(SIGINT);
    return exitCode;  // not reached unless SIGINT cannot be delivered
}
