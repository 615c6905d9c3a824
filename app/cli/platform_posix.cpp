// The console program on Linux. SIGINT counts a press of Ctrl+C; SIGTERM and SIGHUP (a closed
// terminal window) end the program as a second press would, so that the port is closed cleanly
// then too. Without SA_RESTART a read of the terminal that Ctrl+C interrupts returns, so the
// prompt sees it. A signal ignored when the program starts (`trap '' INT`, nohup) stays
// ignored, as the shell that ignored it for its commands means.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "com_port_names.h"
#include "options.h"
#include "platform.h"

namespace {

std::atomic<ConsoleInterrupts*> g_interrupts{nullptr};

constexpr int kHandled[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kHandledCount = std::size(kHandled);
struct sigaction g_previous[kHandledCount];
bool g_installed[kHandledCount];  // false where the signal was ignored and is left so

extern "C" void OnSignal(int number) {
    ConsoleInterrupts* interrupts = g_interrupts.load();
    if (interrupts != nullptr && number == SIGINT) {
        interrupts->Press();
    } else if (interrupts != nullptr) {
        interrupts->Terminate();
    }
}

}  // namespace

InterruptHandlers::InterruptHandlers(ConsoleInterrupts& interrupts) {
    g_interrupts.store(&interrupts);
    for (std::size_t i = 0; i < kHandledCount; ++i) {
        sigaction(kHandled[i], nullptr, &g_previous[i]);
        g_installed[i] =
            (g_previous[i].sa_flags & SA_SIGINFO) != 0 || g_previous[i].sa_handler != SIG_IGN;
        if (g_installed[i]) {
            struct sigaction action {};
            action.sa_handler = OnSignal;
            sigemptyset(&action.sa_mask);
            sigaction(kHandled[i], &action, nullptr);
        }
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
    signal(SIGINT, SIG_DFL);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
    raise(SIGINT);
    return exitCode;  // not reached unless SIGINT cannot be delivered
}

bool IsTerminal(StandardStream stream) {
    const int fd = stream == StandardStream::kInput    ? STDIN_FILENO
                   : stream == StandardStream::kOutput ? STDOUT_FILENO
                                                       : STDERR_FILENO;
    return isatty(fd) == 1;
}

void PrepareStandardStreams() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // open takes the lowest free number: this one, as the lower ones are open by now.
            const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (opened != fd && opened >= 0) {
                ::close(opened);
            }
        }
    }
}

bool BeginCursorMovement() {
    const char* term = std::getenv("TERM");
    return IsTerminal(StandardStream::kError) && term != nullptr && term[0] != '\0' &&
           std::strcmp(term, "dumb") != 0;
}

void EndCursorMovement() {}

LineRead ReadStandardInputByte(char& c, ConsoleInterrupts&) {
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got == 1) {
        return LineRead::kLine;
    }
    // A press of Ctrl+C interrupts the read, as the handler was installed without SA_RESTART.
    return got < 0 && errno == EINTR ? LineRead::kInterrupted : LineRead::kEnd;
}

std::optional<PortArgument> DevicePathArgument(const std::string& text) {
    if (text.find('/') == std::string::npos) {
        return std::nullopt;
    }
    return PortArgument{PortArgument::Kind::kDevicePath,
                        comports::ComNumberOfDevice(text).value_or(0), text};
}

bool DevicePathsAccepted() {
    return true;
}

bool SamePortDevice(const std::string& a, const std::string& b) {
    return a == b || comports::SameDevice(a, b);
}
