// The console program's platform pieces on Linux.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "com_port_names.h"
#include "console_interrupts.h"
#include "console_platform.h"

namespace {

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
