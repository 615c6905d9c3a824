// The Windows program's console-control routine, called as the system calls it on a thread of
// its own: Ctrl+C presses; closing the window, logging off and shutting down end the run and
// hold the system back until the run has closed its ports.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "interrupts.h"
#include "platform_w32.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(ConsoleControl, WithoutARunEveryEventIsTheSystems) {
    for (const DWORD event : {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT,
                              CTRL_SHUTDOWN_EVENT}) {
        EXPECT_EQ(OnConsoleControl(event), FALSE) << event;
    }
}

TEST(ConsoleControl, CtrlCAndCtrlBreakPress) {
    ConsoleInterrupts interrupts;
    {
        const InterruptHandlers handlers(interrupts);
        EXPECT_EQ(OnConsoleControl(CTRL_C_EVENT), TRUE);
        EXPECT_EQ(OnConsoleControl(CTRL_BREAK_EVENT), TRUE);
    }
    EXPECT_TRUE(interrupts.Pressed());
    EXPECT_FALSE(interrupts.Terminated());
    EXPECT_EQ(OnConsoleControl(CTRL_C_EVENT), FALSE) << "the handlers are gone with the run";
}

class EndRequest : public ::testing::TestWithParam<DWORD> {};

TEST_P(EndRequest, EndsTheRunAndReturnsOnlyOnceItIsOver) {
    ConsoleInterrupts interrupts;
    auto handlers = std::make_unique<InterruptHandlers>(interrupts);
    std::atomic<bool> returned{false};
    BOOL result = FALSE;
    std::thread system([&] {
        result = OnConsoleControl(GetParam());
        returned = true;
    });
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (!interrupts.Terminated() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Mid-upload too: the run's next port or clock call ends it, as a second Ctrl+C would.
    {
        const ConsoleInterrupts::UploadScope upload(interrupts);
        EXPECT_THROW(interrupts.Check(), ConsoleInterrupted);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(returned) << "returning lets the system end the process: not before the run";
    const auto runEnds = Clock::now();
    handlers.reset();  // the run is over, its ports closed
    system.join();
    EXPECT_EQ(result, TRUE);
    EXPECT_LT(Clock::now() - runEnds, std::chrono::milliseconds(1000));
}

INSTANTIATE_TEST_SUITE_P(CloseLogOffShutdown, EndRequest,
                         ::testing::Values(CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT,
                                           CTRL_SHUTDOWN_EVENT));

}  // namespace
