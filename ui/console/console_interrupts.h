// Ctrl+C on the console. The signal or console-control handler only counts presses; the
// program's own thread looks at the count on every port and clock call of an exchange and
// unwinds out of it with ConsoleInterrupted, so that the port is closed as on any other way out.
#pragma once

#include <atomic>
#include <functional>

#include "pumping_io.h"

// Thrown where Ctrl+C ends what runs; the program then exits 130.
struct ConsoleInterrupted {};

// What Ctrl+C has asked for so far, and what it means now: outside an upload any press ends
// what runs; during one, the first press only brings a notice and the second abandons it.
class ConsoleInterrupts {
public:
    // Handler side, async-signal-safe: one press of Ctrl+C.
    void Press() noexcept { m_presses.fetch_add(1, std::memory_order_relaxed); }
    // Handler side, async-signal-safe: the program is told to end (terminal closed, SIGTERM).
    void Terminate() noexcept { m_terminate.store(true, std::memory_order_relaxed); }

    // Program side: throws ConsoleInterrupted when the presses so far end what runs; the first
    // press during an upload calls the upload notice once instead.
    void Check();
    // Whether a press or an end is pending that Check has not yet acted on in full.
    bool Pending() const;
    // Whether Check has ended something.
    bool Ended() const { return m_ended; }
    // Shown once, on the first press during an upload.
    void SetUploadNotice(std::function<void()> notice) { m_uploadNotice = std::move(notice); }

    // While it lives, an upload is under way: Ctrl+C must be pressed twice to end it.
    class UploadScope {
    public:
        explicit UploadScope(ConsoleInterrupts& interrupts);
        ~UploadScope();
        UploadScope(const UploadScope&) = delete;
        UploadScope& operator=(const UploadScope&) = delete;

    private:
        ConsoleInterrupts& m_interrupts;
    };

private:
    [[noreturn]] void End();

    static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
                  "the handler may touch only lock-free atomics");
    std::atomic<int> m_presses{0};
    std::atomic<bool> m_terminate{false};
    bool m_uploadUnderWay = false;
    bool m_noticeShown = false;
    bool m_ended = false;
    std::function<void()> m_uploadNotice;
};

// The pump of PumpingOpener and PumpingClock for the console: it runs no events, it looks for
// Ctrl+C, so that every port and clock call of an exchange can end it.
class InterruptPump final : public IEventPump {
public:
    explicit InterruptPump(ConsoleInterrupts& interrupts) : m_interrupts(interrupts) {}
    // Throws ConsoleInterrupted when Ctrl+C ends the exchange.
    void MaybePump() override { m_interrupts.Check(); }

private:
    ConsoleInterrupts& m_interrupts;
};

// The handler the platform installs, for the program's whole run: Ctrl+C (SIGINT, or the
// console's Ctrl+C and Ctrl+Break events) presses, the platform's end requests terminate.
void InstallInterruptHandlers(ConsoleInterrupts& interrupts);
