// The Linux hold: a systemd-logind inhibitor lock taken over the system bus with sd-bus. The
// lock is the file descriptor logind hands back; closing it gives the lock back.
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "keep_awake.h"

namespace {

// The low-level locks too: the lid switch and the keys ignore the others by default.
constexpr const char* kWhat =
    "shutdown:sleep:idle:handle-lid-switch:handle-suspend-key:handle-hibernate-key";
constexpr const char* kWho = "TR-520/521 CPU Update Utility";
constexpr const char* kWhy = "Updating the scanner's firmware";
constexpr const char* kMode = "block";
// A logind that does not answer must not hold up the upload for the bus's 25 s.
constexpr std::uint64_t kCallTimeoutUsec = 5'000'000;

// The sd-bus objects of one call, released however the call ends.
struct BusCall {
    sd_bus* bus = nullptr;
    sd_bus_message* request = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~BusCall() {
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        sd_bus_message_unref(request);
        sd_bus_flush_close_unref(bus);
    }
};

// The line that says so; the upload goes on without the hold.
std::string NoHoldLine(const std::string& reason) {
    return "TR-520/521 CPU Update Utility: sleep and shutdown are not held off during the "
           "upload (no logind inhibitor lock: " +
           reason + ")";
}

std::string Reason(const BusCall& call, int result) {
    if (sd_bus_error_is_set(&call.error)) {
        return call.error.message != nullptr ? call.error.message : call.error.name;
    }
    return std::strerror(-result);
}

// Asks logind for the lock; the descriptor (ours to close), or -1 after the line is reported.
int TakeInhibitorLock(const NoHoldReporter& reportReason) {
    BusCall call;
    int result = sd_bus_open_system(&call.bus);
    if (result < 0) {
        reportReason(std::string("no system bus: ") + std::strerror(-result));
        return -1;
    }
    result = sd_bus_message_new_method_call(call.bus, &call.request, "org.freedesktop.login1",
                                            "/org/freedesktop/login1",
                                            "org.freedesktop.login1.Manager", "Inhibit");
    if (result >= 0) {
        result = sd_bus_message_append(call.request, "ssss", kWhat, kWho, kWhy, kMode);
    }
    if (result >= 0) {
        result = sd_bus_call(call.bus, call.request, kCallTimeoutUsec, &call.error, &call.reply);
    }
    int fd = -1;
    if (result >= 0) {
        result = sd_bus_message_read(call.reply, "h", &fd);
    }
    if (result < 0) {
        reportReason(Reason(call, result));
        return -1;
    }
    // The reply owns the descriptor it carries; the lock lives on in our copy.
    const int held = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (held < 0) {
        reportReason(std::strerror(errno));
    }
    return held;
}

class LogindKeepAwake final : public IKeepAwake {
public:
    explicit LogindKeepAwake(NoHoldReporter report) : m_report(std::move(report)) {}
    ~LogindKeepAwake() override { End(); }

    void Begin() override {
        if (m_lock < 0) {
            m_lock = TakeInhibitorLock(
                [this](const std::string& reason) { m_report(NoHoldLine(reason)); });
        }
    }

    void End() override {
        if (m_lock >= 0) {
            ::close(m_lock);
            m_lock = -1;
        }
    }

private:
    NoHoldReporter m_report;
    int m_lock = -1;  // the inhibitor lock's descriptor, -1 while none is held
};

}  // namespace

std::unique_ptr<IKeepAwake> CreateSystemKeepAwake(NoHoldReporter report) {
    if (!report) {
        report = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    }
    return std::make_unique<LogindKeepAwake>(std::move(report));
}
