// Ctrl+C on the console. The signal or console-control handler only counts presses; the
// program's own threads look at the count on every port and clock call of an exchange and
// unwind out of it with ConsoleInterrupted, so that the port is closed as on any other way out.
// A run over several ports gives each port's thread a view of its own on the run's presses.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "pumping_io.h"

// Thrown where Ctrl+C ends what runs; the program then ends as interrupted.
struct ConsoleInterrupted {};

// What Ctrl+C has asked for so far, and what it means now: outside an upload any press ends
// what runs; during one, the first press only brings a notice and the second abandons it.
class ConsoleInterrupts {
public:
    // The run's own: the platform's handlers press it.
    ConsoleInterrupts() : m_shared(&m_own) {}
    // One port's view of the run's presses: its own upload and its own end, the run's presses
    // and the run's one notice.
    explicit ConsoleInterrupts(ConsoleInterrupts& run) : m_shared(run.m_shared) {}
    ConsoleInterrupts(const ConsoleInterrupts&) = delete;
    ConsoleInterrupts& operator=(const ConsoleInterrupts&) = delete;

    // Handler side, async-signal-safe: one press of Ctrl+C.
    void Press() noexcept { m_shared->presses.fetch_add(1, std::memory_order_relaxed); }
    // Handler side, async-signal-safe: the program is told to end (terminal closed, SIGTERM,
    // the console window closed).
    void Terminate() noexcept { m_shared->terminate.store(true, std::memory_order_relaxed); }

    // Program side: throws ConsoleInterrupted when the presses so far end what runs; the first
    // press during an upload calls the upload notice once for the whole run instead.
    void Check();
    // Whether a press or an end is pending that Check has not yet acted on in full.
    bool Pending() const;
    // Whether Check has ended something here.
    bool Ended() const { return m_ended; }
    // Whether Ctrl+C was pressed at all (an end request aside).
    bool Pressed() const { return m_shared->presses.load(std::memory_order_relaxed) > 0; }
    // Whether the program was told to end.
    bool Terminated() const { return m_shared->terminate.load(std::memory_order_relaxed); }
    // The run's notice, shown once, on the first press during an upload. Set it before any
    // port's thread starts.
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

// The longest slice of a pause on a PumpingClock around an InterruptPump: Ctrl+C is seen within
// this during the exchanges' pauses.
inline constexpr std::uint32_t kInterruptSliceMs = 50;

// The platform's handlers for as long as it lives: Ctrl+C (SIGINT, or the console's Ctrl+C
// and Ctrl+Break events) presses, the platform's end requests terminate. Its end removes them,
// restoring what was there before, so that no handler outlives the object it presses.
class InterruptHandlers {
public:
    explicit InterruptHandlers(ConsoleInterrupts& interrupts);
    ~InterruptHandlers();
    InterruptHandlers(const InterruptHandlers&) = delete;
    InterruptHandlers& operator=(const InterruptHandlers&) = delete;
};

// Ends the program as Ctrl+C ends a program, once the handlers are gone: on Linux it dies of
// SIGINT, so that a calling shell stops too (and sees 130); elsewhere it returns exitCode.
int EndAsInterrupted(int exitCode);
