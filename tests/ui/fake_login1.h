// A private D-Bus daemon started by the test, and a small stand-in for systemd-logind on it,
// so that the inhibitor lock is tested without the machine's own bus.
#pragma once

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A dbus-daemon of the test's own, ended with the test (also when the test dies).
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Whether the daemon runs; when not, Failure() says why.
    bool IsRunning() const { return !m_address.empty(); }
    const std::string& Failure() const { return m_failure; }
    // The address to give DBUS_SYSTEM_BUS_ADDRESS.
    const std::string& Address() const { return m_address; }

private:
    std::filesystem::path m_dir;
    pid_t m_pid = -1;
    std::string m_address;
    std::string m_failure;
};

// A bus that takes connections and never answers: a socket that listens, whose connections
// wait in its backlog unread. A client gets no further than the start of authentication.
class SilentBus {
public:
    SilentBus();
    ~SilentBus();
    SilentBus(const SilentBus&) = delete;
    SilentBus& operator=(const SilentBus&) = delete;

    // The address to give DBUS_SYSTEM_BUS_ADDRESS; empty when no socket could be made.
    const std::string& Address() const { return m_address; }

private:
    std::filesystem::path m_dir;
    int m_socket = -1;
    std::string m_address;
};

// Sets DBUS_SYSTEM_BUS_ADDRESS while it lives and puts back what was there before.
class SystemBusAddress {
public:
    explicit SystemBusAddress(const std::string& address);
    ~SystemBusAddress();
    SystemBusAddress(const SystemBusAddress&) = delete;
    SystemBusAddress& operator=(const SystemBusAddress&) = delete;

private:
    std::optional<std::string> m_before;
};

// Owns org.freedesktop.login1 on the bus and answers Manager.Inhibit as logind does: with
// the write end of a pipe, whose read end it keeps to see when the lock is given back.
class FakeLogin1 {
public:
    // The arguments of one Inhibit call.
    struct Call {
        std::string what;
        std::string who;
        std::string why;
        std::string mode;
    };

    // Connects to the bus at address and takes the name; Ready() says whether that worked.
    explicit FakeLogin1(const std::string& address);
    ~FakeLogin1();
    FakeLogin1(const FakeLogin1&) = delete;
    FakeLogin1& operator=(const FakeLogin1&) = delete;

    bool Ready() const { return m_ready; }
    // From now on Inhibit fails with this D-Bus error, as a logind that refuses does.
    void RefuseWith(const std::string& name, const std::string& message);
    // The Inhibit calls so far.
    std::vector<Call> Calls() const;
    // Whether the lock handed out by call n is still held by someone. The bus and this
    // stand-in keep copies of the descriptor for a moment after the reply; both are waited for.
    bool IsHeld(std::size_t n) const;
    // Waits up to limitMs for the lock of call n to be given back; true once it is.
    bool AwaitReleased(std::size_t n, int limitMs) const;

private:
    static int OnInhibitEntry(sd_bus_message* message, void* self, sd_bus_error* error);
    int Inhibit(sd_bus_message* message, sd_bus_error* error);
    void Serve();

    std::string m_address;
    sd_bus* m_bus = nullptr;
    bool m_ready = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    std::vector<int> m_lockEnds;  // the read end of each lock's pipe
    std::string m_refusalName;
    std::string m_refusalMessage;
};
