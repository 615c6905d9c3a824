// The Linux hold: a systemd-logind inhibitor lock taken over the system bus with sd-bus. The
// lock is the file descriptor logind hands back; closing it gives the lock back.
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "keep_awake.h"
#include "printable_text.h"

namespace {

// The low-level locks too: the lid switch and the keys ignore the others by default.
constexpr const char* kWhat =
    "shutdown:sleep:idle:handle-lid-switch:handle-suspend-key:handle-hibernate-key";
constexpr const char* kWho = "TR-520/521 CPU Update Utility";
constexpr const char* kWhy = "Updating the scanner's firmware";
constexpr const char* kMode = "block";
// One limit for the whole conversation with the bus, from connecting (authentication, Hello)
// to logind's answer: a bus or logind that does not answer must not hold up the upload.
constexpr std::uint64_t kDeadlineUsec = 5'000'000;
// The longest wait on the bus between two turns of the event pump.
constexpr std::uint64_t kPumpSliceUsec = 20'000;

// The sd-bus objects of the one asynchronous call, released however it ends.
struct BusCall {
    sd_bus* bus = nullptr;
    sd_bus_message* request = nullptr;
    sd_bus_slot* slot = nullptr;
    sd_bus_message* reply = nullptr;  // set once logind (or sd-bus, for it) has answered
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~BusCall() {
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        sd_bus_slot_unref(slot);
        sd_bus_message_unref(request);
        // Not flushed: flushing first waits for a bus that never answered, with no limit of ours.
        sd_bus_close_unref(bus);
    }
};

// The line that says so; the upload goes on without the hold.
std::string NoHoldLine(const std::string& reason) {
    return "TR-520/521 CPU Update Utility: sleep and shutdown are not held off during the "
           "upload (no logind inhibitor lock: " +
           PrintableText(reason) + ")";
}

std::string Reason(const BusCall& call, int result) {
    if (sd_bus_error_is_set(&call.error)) {
        return call.error.message != nullptr ? call.error.message : call.error.name;
    }
    return std::strerror(-result);
}

// Keeps logind's answer, an error reply included.
int OnReply(sd_bus_message* reply, void* userdata, sd_bus_error* /*error*/) {
    auto& call = *static_cast<BusCall*>(userdata);
    call.reply = sd_bus_message_ref(reply);
    if (const sd_bus_error* failure = sd_bus_message_get_error(reply)) {
        sd_bus_error_copy(&call.error, failure);
    }
    return 0;
}

std::uint64_t UsecUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<std::uint64_t>(left.count()) : 0;
}

// Runs the bus until the reply has come or the deadline has passed, letting pump run in short
// turns; 0, or a negative errno (ETIMEDOUT at the deadline).
int AwaitReply(BusCall& call, std::chrono::steady_clock::time_point deadline, IEventPump* pump) {
    while (call.reply == nullptr) {
        const int processed = sd_bus_process(call.bus, nullptr);
        if (processed < 0) {
            return processed;
        }
        if (processed > 0) {
            continue;  // more may be ready at once
        }
        const std::uint64_t left = UsecUntil(deadline);
        if (left == 0) {
            return -ETIMEDOUT;
        }
        const int waited =
            sd_bus_wait(call.bus, pump != nullptr ? std::min(left, kPumpSliceUsec) : left);
        if (waited < 0 && waited != -EINTR) {
            return waited;
        }
        if (pump != nullptr) {
            pump->MaybePump();
        }
    }
    return 0;
}

// Asks logind for the lock; the descriptor (ours to close), or -1 after the line is reported.
int TakeInhibitorLock(IEventPump* pump, const NoHoldReporter& reportReason) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::microseconds(kDeadlineUsec);
    BusCall call;
    // Connecting only starts here: authentication and Hello go on in AwaitReply.
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
        result =
            sd_bus_call_async(call.bus, &call.slot, call.request, OnReply, &call, kDeadlineUsec);
    }
    if (result >= 0) {
        result = AwaitReply(call, deadline, pump);
    }
    if (result == -ETIMEDOUT && !sd_bus_error_is_set(&call.error)) {
        reportReason("no answer from the system bus within 5 s");
        return -1;
    }
    int fd = -1;
    if (result >= 0 && !sd_bus_error_is_set(&call.error)) {
        result = sd_bus_message_read(call.reply, "h", &fd);
    }
    if (result < 0 || sd_bus_error_is_set(&call.error)) {
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

    void Begin(IEventPump* pump) override {
        if (m_lock < 0) {
            m_lock = TakeInhibitorLock(
                pump, [this](const std::string& reason) { m_report(NoHoldLine(reason)); });
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
