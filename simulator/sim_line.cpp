#include "sim_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "com_port_names.h"

namespace scannersim {

namespace {

using Ms = std::chrono::milliseconds;

constexpr Ms kBlockedLineLimit{1000};  // a send that cannot go on for this long is dropped

}  // namespace

SimLine::SimLine(bool lineSpeed, int baudRate, bool deviceLike)
    : m_lineSpeed(lineSpeed),
      m_usPerByte(baudRate > 0 ? 10.0e6 / baudRate : 0.0),
      m_deviceLike(deviceLike) {}

SimLine::~SimLine() {
    Close();
}

bool SimLine::Open(std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error != nullptr) {
            *error = what;
        }
        return false;
    };
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
    }
    m_devicePath = name;
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (m_deviceLike) {
        // A pseudo-terminal echoes whatever reaches it while its settings say so, open or not;
        // a device's driver takes nothing while nobody has it open. So no end of ours stays
        // open, and nothing is sent while the master reports the other end closed (POLLHUP);
        // inotify on the node wakes us at each open and close.
        ::close(m_slave);
        m_slave = -1;
        m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_watch < 0 || inotify_add_watch(m_watch, name, IN_OPEN | IN_CLOSE) < 0) {
            return fail(std::string("cannot watch ") + name + ": " + std::strerror(errno));
        }
    } else {
        // Raw from the start: no echo of the utility's bytes before it sets the line up itself.
        termios raw{};
        tcgetattr(m_slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(m_slave, TCSANOW, &raw);
    }
    if (pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        return fail(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    return true;
}

bool SimLine::OpenDevice(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error != nullptr) {
            *error = what;
        }
        Close();
        return false;
    };
    // Not as the controlling terminal: a hang-up of the device must not end the simulator.
    m_master = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0) {
        return fail("cannot open " + path + ": " + std::strerror(errno));
    }
    termios raw{};
    if (tcgetattr(m_master, &raw) != 0) {
        return fail(path + " is not a terminal device: " + std::strerror(errno));
    }
    // A device starts in its driver's settings, echo on: nothing the utility sends may come
    // back to it, and no modem line may stop the line.
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&raw, B115200);
    if (tcsetattr(m_master, TCSANOW, &raw) != 0) {
        return fail("cannot make " + path + " raw: " + std::strerror(errno));
    }
    // Bytes that waited there belong to no conversation of this simulator.
    tcflush(m_master, TCIOFLUSH);
    if (pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        return fail(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    m_devicePath = path;
    m_existingDevice = true;
    return true;
}

bool SimLine::Publish(int comNumber, const std::filesystem::path& linkDirectory, bool replace,
                      std::string* error) {
    namespace fs = std::filesystem;
    const fs::path dir = linkDirectory.empty() ? comports::PortLinkDirectory() : linkDirectory;
    const fs::path link = dir / ("com" + std::to_string(comNumber));
    std::error_code ec;
    // The folders made here go again with the link, so that a run leaves the home as it was.
    m_madeFolders.clear();
    for (fs::path missing = dir; !missing.empty() && !fs::exists(fs::symlink_status(missing, ec));
         missing = missing.parent_path()) {
        m_madeFolders.push_back(missing);
        if (missing == missing.parent_path()) {
            break;
        }
    }
    fs::create_directories(dir, ec);
    const auto status = fs::symlink_status(link, ec);
    if (fs::exists(status)) {
        // A link that leads nowhere is a leftover of an earlier run; anything else is the
        // user's own mapping and stays unless replacing was asked for.
        const bool dangling = fs::is_symlink(status) && !fs::exists(link, ec);
        if (!dangling && !replace) {
            if (error != nullptr) {
                *error = link.string() + " already exists (use another COM number, or replace it)";
            }
            return false;
        }
    }
    const fs::path temporary =
        dir / (".com" + std::to_string(comNumber) + ".new" + std::to_string(getpid()));
    fs::remove(temporary, ec);
    fs::create_symlink(m_devicePath, temporary, ec);
    if (!ec) {
        fs::rename(temporary, link, ec);
    }
    if (ec) {
        fs::remove(temporary, ec);
        if (error != nullptr) {
            *error = "cannot publish " + link.string() + ": " + ec.message();
        }
        return false;
    }
    m_linkPath = link;
    return true;
}

void SimLine::Unpublish() {
    if (m_linkPath.empty()) {
        return;
    }
    std::error_code ec;
    // Only our own link goes; another simulator may have taken the name meanwhile.
    if (std::filesystem::read_symlink(m_linkPath, ec) == m_devicePath) {
        std::filesystem::remove(m_linkPath, ec);
    }
    m_linkPath.clear();
    // Deepest first; remove() leaves a folder that holds anything, such as another's link.
    for (const std::filesystem::path& folder : m_madeFolders) {
        std::filesystem::remove(folder, ec);
    }
    m_madeFolders.clear();
}

void SimLine::RequestStop() {
    if (m_stopPipe[1] >= 0) {
        const char stop = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_stopPipe[1], &stop, 1);
    }
}

void SimLine::Close() {
    for (int* fd : {&m_master, &m_slave, &m_watch, &m_stopPipe[0], &m_stopPipe[1]}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void SimLine::Problem(const std::string& text) {
    if (onProblem) {
        onProblem(text);
    }
}

bool SimLine::PauseUntil(Clock::time_point until) {
    while (!m_stopped) {
        const auto left = std::chrono::duration_cast<Ms>(until - Clock::now());
        if (left.count() <= 0) {
            // Sub-millisecond rest of a line-speed pause.
            std::this_thread::sleep_until(until);
            return true;
        }
        pollfd stop{m_stopPipe[0], POLLIN, 0};
        if (poll(&stop, 1, static_cast<int>(left.count())) > 0) {
            m_stopped = true;
        }
    }
    return false;
}

// Lets n bytes take their time on the line starting no earlier than lineFree.
void SimLine::LineTime(Clock::time_point& lineFree, std::size_t n) {
    if (!m_lineSpeed) {
        return;
    }
    const auto now = Clock::now();
    lineFree = std::max(now, lineFree) +
               std::chrono::duration_cast<Clock::duration>(
                   std::chrono::duration<double, std::micro>(m_usPerByte * double(n)));
    PauseUntil(lineFree);
}

bool SimLine::Send(const std::vector<std::uint8_t>& bytes) {
    if (!Carries()) {
        return false;  // nobody listens: the bytes are lost, as on a device
    }
    LineTime(m_txFree, bytes.size());
    std::size_t sent = 0;
    const auto deadline = Clock::now() + kBlockedLineLimit;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            Problem(std::string("cannot write to the line: ") + std::strerror(errno));
            return false;
        }
        if (Clock::now() >= deadline) {
            Problem("the line stayed blocked; dropped " + std::to_string(bytes.size() - sent) +
                    " bytes");
            return false;
        }
        pollfd out{m_master, POLLOUT, 0};
        poll(&out, 1, 10);
    }
    return true;
}

std::optional<std::uint8_t> SimLine::ReadByte(Clock::time_point deadline, bool endOnOpenOrClose) {
    while (m_rx.empty()) {
        if (m_stopped || m_hungUp || !Fill(deadline, endOnOpenOrClose)) {
            return std::nullopt;
        }
    }
    const std::uint8_t b = m_rx.front();
    m_rx.pop_front();
    return b;
}

bool SimLine::Arrived() {
    while (!m_hungUp && m_master >= 0 && ReadWaiting()) {
    }
    return !m_rx.empty();
}

// Waits for bytes until the deadline; true when the caller should look again (bytes came, or
// the utility opened or closed a device-like line), false when nothing will come in time.
bool SimLine::Fill(Clock::time_point deadline, bool endOnOpenOrClose) {
    if (m_deviceLike && ReadWaiting()) {
        return true;  // what the utility wrote before it closed is still there
    }
    const bool carries = Carries();
    const auto left =
        m_noWait ? 0 : std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
    pollfd fds[3] = {
        {m_stopPipe[0], POLLIN, 0}, {carries ? m_master : -1, POLLIN, 0}, {m_watch, POLLIN, 0}};
    const int ready = poll(fds, 3, left > 0 ? static_cast<int>(left) : 0);
    if (ready <= 0) {
        return false;
    }
    if (fds[0].revents != 0) {
        m_stopped = true;
        return false;
    }
    if (fds[2].revents != 0) {
        DrainWatch();
        if (endOnOpenOrClose && Carries() != carries) {
            return false;
        }
    }
    if (fds[1].revents == 0) {
        return true;
    }
    return ReadWaiting() || m_deviceLike || !m_hungUp;
}

// Reads what the master holds without waiting; true when bytes came. A line that is not
// device-like has been hung up when the read fails; a device-like one was closed by the
// utility, which is no failure.
bool SimLine::ReadWaiting() {
    std::uint8_t chunk[4096];
    const ssize_t n = ::read(m_master, chunk, sizeof chunk);
    if (n > 0) {
        LineTime(m_rxFree, static_cast<std::size_t>(n));
        m_rx.insert(m_rx.end(), chunk, chunk + n);
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return false;
    }
    if (!m_deviceLike) {
        Problem("the line failed while reading");
        m_hungUp = true;
    }
    return false;
}

void SimLine::DrainWatch() {
    alignas(inotify_event) char events[4096];
    while (::read(m_watch, events, sizeof events) > 0) {
    }
}

bool SimLine::Carries() {
    if (!m_deviceLike) {
        return true;
    }
    // The master reports a hang-up while no descriptor is open on the other end.
    pollfd master{m_master, POLLIN, 0};
    const bool carries = m_master >= 0 && poll(&master, 1, 0) >= 0 && !(master.revents & POLLHUP);
    if (carries && !m_carriesSince) {
        m_carriesSince = Clock::now();
    } else if (!carries) {
        m_carriesSince.reset();
    }
    return carries;
}

std::optional<Clock::time_point> SimLine::CarriesSince() {
    if (!m_deviceLike) {
        return Clock::time_point{};
    }
    Carries();
    return m_carriesSince;
}

int SimLine::Backlog() const {
    int waiting = 0;
    if (m_existingDevice) {
        // An existing device: what it has not passed on to the far end yet.
        return ioctl(m_master, TIOCOUTQ, &waiting) == 0 ? waiting : 0;
    }
    return m_slave >= 0 && ioctl(m_slave, FIONREAD, &waiting) == 0 ? waiting : 0;
}

void SimLine::HangUp() {
    for (int* fd : {&m_master, &m_slave}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    m_hungUp = true;
}

void SimLine::HoldUtilityOutput() {
    if (m_slave >= 0) {  // a device-like line holds no end to stop it through
        tcflow(m_slave, TCOOFF);
    }
}

}  // namespace scannersim
