// tr-pty-peer: the far end of a COM port for tests of a serial backend. It creates a
// pseudo-terminal, publishes it as comN in a link directory (for wine: the prefix's
// dosdevices), and echoes every byte it receives. With --hang-up-after-bytes it closes the
// line once that many bytes have arrived, as a pulled cable would.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

namespace fs = std::filesystem;

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

struct Options {
    fs::path linkDir;
    int com = 0;
    long hangUpAfterBytes = -1;
    int timeoutSeconds = 0;
};

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--replace") {
            continue;  // a link of the same name is always replaced
        } else if (option == "--link-dir" && hasValue) {
            o.linkDir = argv[++i];
        } else if (option == "--com" && hasValue) {
            o.com = std::atoi(argv[++i]);
        } else if (option == "--hang-up-after-bytes" && hasValue) {
            o.hangUpAfterBytes = std::atol(argv[++i]);
        } else if (option == "--timeout" && hasValue) {
            o.timeoutSeconds = std::atoi(argv[++i]);
        } else {
            return false;
        }
    }
    return !o.linkDir.empty() && o.com > 0;
}

// Publishes device as dir/comN, replacing whatever had the name.
bool Publish(const fs::path& link, const std::string& device) {
    std::error_code ec;
    fs::create_directories(link.parent_path(), ec);
    const fs::path temporary = link.parent_path() / (".new-" + std::to_string(getpid()));
    fs::remove(temporary, ec);
    fs::create_symlink(device, temporary, ec);
    if (!ec) {
        fs::rename(temporary, link, ec);
    }
    return !ec;
}

// Echoes until stopped, timed out or hung up; the count of bytes received.
long Serve(int master, const Options& o) {
    const auto start = std::chrono::steady_clock::now();
    long received = 0;
    while (!g_stop) {
        if (o.timeoutSeconds > 0 &&
            std::chrono::steady_clock::now() - start > std::chrono::seconds(o.timeoutSeconds)) {
            std::cerr << "tr-pty-peer: timed out\n";
            break;
        }
        pollfd in{master, POLLIN, 0};
        if (poll(&in, 1, 100) <= 0) {
            continue;
        }
        unsigned char chunk[4096];
        std::size_t want = sizeof chunk;
        if (o.hangUpAfterBytes >= 0) {
            want = std::min<std::size_t>(want,
                                         static_cast<std::size_t>(o.hangUpAfterBytes - received));
        }
        const ssize_t n = ::read(master, chunk, want);
        if (n < 0 && (errno == EAGAIN || errno == EINTR || errno == EIO)) {
            // EIO: no one has the terminal open at the moment; wait for the next opener.
            if (errno == EIO) {
                poll(nullptr, 0, 20);
            }
            continue;
        }
        if (n <= 0) {
            break;
        }
        received += n;
        for (ssize_t sent = 0; sent < n;) {
            const ssize_t w = ::write(master, chunk + sent, static_cast<std::size_t>(n - sent));
            if (w < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            }
            sent += w > 0 ? w : 0;
        }
        if (o.hangUpAfterBytes >= 0 && received >= o.hangUpAfterBytes) {
            break;
        }
    }
    return received;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) {
        std::cerr << "usage: tr-pty-peer --link-dir DIR --com N [--hang-up-after-bytes K]"
                     " [--timeout S]\n";
        return 2;
    }
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::cerr << "tr-pty-peer: no pseudo-terminal: " << std::strerror(errno) << "\n";
        return 1;
    }
    // Raw until the backend sets the line up itself: no echo of its bytes by the terminal.
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    const fs::path link = o.linkDir / ("com" + std::to_string(o.com));
    if (!Publish(link, name)) {
        std::cerr << "tr-pty-peer: cannot publish " << link << "\n";
        return 1;
    }
    std::cout << "tr-pty-peer on " << name << " as " << link.string() << std::endl;
    const long received = Serve(master, o);
    // Both ends go at once, as with a pulled cable.
    ::close(master);
    ::close(slave);
    std::error_code ec;
    if (fs::read_symlink(link, ec) == fs::path(name)) {
        fs::remove(link, ec);
    }
    const bool hungUp = o.hangUpAfterBytes >= 0 && received >= o.hangUpAfterBytes;
    std::cout << "received " << received << " bytes" << (hungUp ? ", then hung up" : "") << "\n";
    return 0;
}
