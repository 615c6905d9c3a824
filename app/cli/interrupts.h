// Ctrl+C on the console. The platform's handler only counts presses; the program's threads
// look at the count on every port and clock call of an exchange and unwind out of it with
// ConsoleInterrupted, so that the port is closed as on any other way out.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "pumping_io.h"

// Thrown where Ctrl+C ends what runs; the program then ends as interrupted.
struct ConsoleInterrupted {};

// Outside an upload any press ends what runs; during one, the first press only brings a notice
// and the second abandons it. An end request (terminal closed, SIGTERM, console window closed)
// ends it at once.
class ConsoleInterrupts {
public:
    // The run's own, which the platform's handlers press.
    ConsoleInterrupts() : m_shared(&m_own) {}
    // One port's view of the run's presses, with its own upload and its own end.
    explicit ConsoleInterrupts(ConsoleInterrupts& run) : m_shared(run.m_shared) {}
    ConsoleInterrupts(const ConsoleInterrupts&) = delete;
    ConsoleInterrupts& operator=(const ConsoleInterrupts&) = delete;

    // Handler side, async-signal-safe.
    void Press() noexcept { m_shared->presses.fetch_add(1, std::memory_order_relaxed); }
    void Terminate() noexcept { m_shared->terminate.store(true, std::memory_order_relaxed); }

    // Throws ConsoleInterrupted when the presses so far end what runs; the first press during
    // an upload calls the upload notice instead, once for the whole run.
    void Check();
    // Whether a press or an end request is pending that Check has not yet acted on in full.
    bool Pending() const;
    // Whether Check has ended something here.
    bool Ended() const { return m_ended; }
    bool Pressed() const { return m_shared->presses.load(std::memory_order_relaxed) > 0; }
    bool Terminated() const { return m_shared->terminate.load(std::memory_order_relaxed); }
    // Set before any port's thread starts.
    void SetUploadNotice(std::function<void()> notice) { m_shared->notice = std::move(notice); }

    // While it lives, an upload is under way here: Ctrl+C must be pressed twice to end it.
    class UploadScope {
    public:
        explicit UploadScope(ConsoleInterrupts& interrupts) : m_interrupts(interrupts) {
            m_interrupts.m_uploadUnderWay = true;
        }
        ~UploadScope() { m_interrupts.m_uploadUnderWay = false; }
        UploadScope(const UploadScope&) = delete;
        UploadScope& operator=(const UploadScope&) = delete;

    private:
        ConsoleInterrupts& m_interrupts;
    };

private:
    // What the handlers and every port share.
    struct Shared {
        static_assert(std::atomic<int>::is_always_lock_free &&
                          std::atomic<bool>::is_always_lock_free,
                      "the handler may touch only lock-free atomics");
        std::atomic<int> presses{0};
        std::atomic<bool> terminate{false};
        std::atomic<bool> noticeShown{false};
        std::function<void()> notice;
    };

    [[noreturn]] void End();

    Shared m_own;
    Shared* m_shared;
    bool m_uploadUnderWay = false;
    bool m_ended = false;
};

// The pump of PumpingOpener and PumpingClock on the console: it runs no events, it looks for
// Ctrl+C, so that every port and clock call of an exchange can end it.
class InterruptPump final : public IEventPump {
public:
    explicit InterruptPump(ConsoleInterrupts& interrupts) : m_interrupts(interrupts) {}
    void MaybePump() override { m_interrupts.Check(); }

private:
    ConsoleInterrupts& m_interrupts;
};

// The longest slice of a pause on a PumpingClock around an InterruptPump: how soon Ctrl+C is
// seen during the exchanges' pauses.
inline constexpr std::uint32_t kInterruptSliceMs = 50;

// The platform's handlers for as long as it lives: Ctrl+C (SIGINT, the console's Ctrl+C and
// Ctrl+Break) presses, the platform's end requests terminate. Its end restores what was there
// before, so that no handler outlives the object it presses.
class InterruptHandlers {
public:
    explicit InterruptHandlers(ConsoleInterrupts& interrupts);
    ~InterruptHandlers();
    InterruptHandlers(const InterruptHandlers&) = delete;
    InterruptHandlers& operator=(const InterruptHandlers&) = delete;
};

// Ends the program as Ctrl+C ends one, once the handlers are gone: on Linux it dies of SIGINT,
// so that a calling shell stops too; elsewhere it returns exitCode.
int EndAsInterrupted(int exitCode);
