#include "fake_login1.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

// A session-type bus that lets anyone own any name, with no service activation.
constexpr const char* kConfig = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=@DIR@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// The first line the daemon prints on fd, within 5 s; empty when none comes.
std::string ReadLine(int fd) {
    std::string line;
    char c = 0;
    pollfd in{fd, POLLIN, 0};
    while (poll(&in, 1, 5000) == 1 && read(fd, &c, 1) == 1 && c != '\n') {
        line.push_back(c);
    }
    return c == '\n' ? line : std::string();
}

// A call to the bus daemon itself and its answer. The daemon is single-threaded: once it has
// answered, it has also finished with every message it sent before, and closed the copies of
// the descriptors those carried.
void RoundTripThroughTheDaemon(const std::string& address) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address.c_str()) >= 0 &&
        sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0) {
        sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr, "");
    }
    sd_bus_flush_close_unref(bus);
}

}  // namespace

PrivateBus::PrivateBus() {
    char pattern[] = "/tmp/tr_private_bus_XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        m_failure = "no temporary directory";
        return;
    }
    m_dir = pattern;
    std::string config = kConfig;
    config.replace(config.find("@DIR@"), 5, m_dir.string());
    std::ofstream(m_dir / "bus.conf") << config;
    int address[2];
    if (pipe(address) != 0) {
        m_failure = "no pipe";
        return;
    }
    const std::string configArg = "--config-file=" + (m_dir / "bus.conf").string();
    const std::string printArg = "--print-address=" + std::to_string(address[1]);
    const std::string log = (m_dir / "bus.log").string();
    m_pid = fork();
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // no daemon outlives a test that dies
        close(address[0]);
        // Its words go to a file, not into the stderr that tests read.
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(out, 2);
        execlp("dbus-daemon", "dbus-daemon", configArg.c_str(), "--nofork", "--nopidfile",
               printArg.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(address[1]);
    m_address = m_pid > 0 ? ReadLine(address[0]) : std::string();
    close(address[0]);
    if (m_address.empty()) {
        std::ifstream said(log);
        std::string words;
        std::getline(said, words);
        m_failure = "dbus-daemon did not start (Debian package dbus): " + words;
    }
}

PrivateBus::~PrivateBus() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    if (!m_dir.empty()) {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
}

SilentBus::SilentBus() {
    char pattern[] = "/tmp/tr_silent_bus_XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return;
    }
    m_dir = pattern;
    const std::string path = (m_dir / "socket").string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    m_socket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_socket >= 0 &&
        bind(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        listen(m_socket, 16) == 0) {
        m_address = "unix:path=" + path;
    }
}

SilentBus::~SilentBus() {
    if (m_socket >= 0) {
        close(m_socket);
    }
    if (!m_dir.empty()) {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
}

SystemBusAddress::SystemBusAddress(const std::string& address) {
    if (const char* before = getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
        m_before = before;
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
}

SystemBusAddress::~SystemBusAddress() {
    if (m_before) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", m_before->c_str(), 1);
    } else {
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

FakeLogin1::FakeLogin1(const std::string& address) : m_address(address) {
    static const sd_bus_vtable kManagerVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogin1::OnInhibitEntry,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    if (sd_bus_new(&m_bus) < 0) {
        return;
    }
    // The name must be ours before the constructor returns, so this is done here, not in the
    // serving thread.
    if (sd_bus_set_address(m_bus, address.c_str()) < 0 || sd_bus_set_bus_client(m_bus, 1) < 0 ||
        sd_bus_start(m_bus) < 0 ||
        sd_bus_add_object_vtable(m_bus, nullptr, "/org/freedesktop/login1",
                                 "org.freedesktop.login1.Manager", kManagerVtable, this) < 0 ||
        sd_bus_request_name(m_bus, "org.freedesktop.login1", 0) < 0) {
        return;
    }
    m_ready = true;
    m_thread = std::thread([this] { Serve(); });
}

FakeLogin1::~FakeLogin1() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    sd_bus_flush_close_unref(m_bus);
    for (const int fd : m_lockEnds) {
        close(fd);
    }
}

void FakeLogin1::RefuseWith(const std::string& name, const std::string& message) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    m_refusalName = name;
    m_refusalMessage = message;
}

std::vector<FakeLogin1::Call> FakeLogin1::Calls() const {
    const std::lock_guard<std::mutex> guard(m_mutex);
    return m_calls;
}

bool FakeLogin1::IsHeld(std::size_t n) const {
    RoundTripThroughTheDaemon(m_address);
    // Inhibit holds the mutex until its reply, and with it our copy, is gone.
    return !AwaitReleased(n, 0);
}

bool FakeLogin1::AwaitReleased(std::size_t n, int limitMs) const {
    int fd = -1;
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        if (n >= m_lockEnds.size()) {
            return false;
        }
        fd = m_lockEnds[n];
    }
    // Once every copy of the write end is closed, the read end reports the hang-up.
    pollfd end{fd, POLLIN, 0};
    return poll(&end, 1, limitMs) == 1 && (end.revents & POLLHUP) != 0;
}

int FakeLogin1::OnInhibitEntry(sd_bus_message* message, void* self, sd_bus_error* error) {
    return static_cast<FakeLogin1*>(self)->Inhibit(message, error);
}

int FakeLogin1::Inhibit(sd_bus_message* message, sd_bus_error* error) {
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    const int read = sd_bus_message_read(message, "ssss", &what, &who, &why, &mode);
    if (read < 0) {
        return read;
    }
    const std::lock_guard<std::mutex> guard(m_mutex);
    m_calls.push_back({what, who, why, mode});
    if (!m_refusalName.empty()) {
        return sd_bus_error_set(error, m_refusalName.c_str(), m_refusalMessage.c_str());
    }
    int lock[2];
    if (pipe2(lock, O_CLOEXEC) != 0) {
        return -errno;
    }
    m_lockEnds.push_back(lock[0]);
    const int replied = sd_bus_reply_method_return(message, "h", lock[1]);  // sends a copy
    close(lock[1]);
    return replied;
}

void FakeLogin1::Serve() {
    while (!m_stop) {
        const int processed = sd_bus_process(m_bus, nullptr);
        if (processed < 0) {
            return;
        }
        if (processed == 0) {
            sd_bus_wait(m_bus, 20'000);  // wakes for work, or to look at m_stop
        }
    }
}
