// The Windows hold on sleep: ES_SYSTEM_REQUIRED, continuously, from Begin to End, and the
// thread's previous execution state back afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include "keep_awake.h"

namespace {

// Sets state and returns what the thread held before.
EXECUTION_STATE Swap(EXECUTION_STATE state) {
    return SetThreadExecutionState(state);
}

class KeepAwakeW32 : public ::testing::TestWithParam<EXECUTION_STATE> {};

TEST_P(KeepAwakeW32, HoldsTheSystemUpFromBeginToEndAndRestoresThePreviousState) {
    const EXECUTION_STATE before = GetParam();
    Swap(before);
    auto keepAwake = CreateSystemKeepAwake();
    keepAwake->Begin(nullptr);
    keepAwake->Begin(nullptr);  // a second Begin takes nothing more and loses nothing
    // Asking with the very state it should hold leaves it as it is.
    EXPECT_EQ(Swap(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    keepAwake->End();
    EXPECT_EQ(Swap(before), before);
    keepAwake->End();  // nothing held: nothing changes
    EXPECT_EQ(Swap(before), before);
}

INSTANTIATE_TEST_SUITE_P(PreviousStates, KeepAwakeW32,
                         ::testing::Values(EXECUTION_STATE{ES_CONTINUOUS},
                                           EXECUTION_STATE{ES_CONTINUOUS | ES_DISPLAY_REQUIRED}));

TEST(KeepAwakeW32Scope, EndsTheHoldOnEveryWayOut) {
    Swap(ES_CONTINUOUS);
    auto keepAwake = CreateSystemKeepAwake();
    try {
        const KeepAwakeScope scope(*keepAwake);
        EXPECT_EQ(Swap(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        throw 1;
    } catch (int) {
    }
    EXPECT_EQ(Swap(ES_CONTINUOUS), ES_CONTINUOUS);
}

}  // namespace
