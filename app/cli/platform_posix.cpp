// The console program on Linux. Ctrl+C: SIGINT counts a press; SIGTERM and SIGHUP (a closed
// terminal window) end the program as a second press would, so that the port is closed cleanly
// then too. Without SA_RESTART, a read of the terminal that Ctrl+C interrupts returns, so the
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

constexpr std::size_t kLongestAnswer = 1024;  // the rest of a longer line is dropped

class PosixStandardInput final : public ITerminalInput {
public:
    // One byte at a time, so that nothing after the line is taken from standard input.
    LineRead ReadLine(std::string& line) override {
        line.clear();
        for (;;) {
            char c = 0;
            const ssize_t got = ::read(STDIN_FILENO, &c, 1);
            if (got == 1) {
                if (c == '\n') {
                    return LineRead::kLine;
                }
                if (line.size() < kLongestAnswer) {
                    line += c;
                }
                continue;
            }
            if (got < 0 && errno == EINTR) {
                return LineRead::kInterrupted;  // the handler was installed without SA_RESTART
            }
            return line.empty() ? LineRead::kEnd : LineRead::kLine;
        }
    }
};

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

std::unique_ptr<ITerminalInput> CreateStandardInput(ConsoleInterrupts&) {
    return std::make_unique<PosixStandardInput>();
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
