// The logind inhibitor lock against a private bus with a stand-in for logind on it, and the
// runs that go on without one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "fake_login1.h"
#include "keep_awake.h"

namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kWhat =
    "shutdown:sleep:idle:handle-lid-switch:handle-suspend-key:handle-hibernate-key";

class LogindHold : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_bus.IsRunning()) {
            GTEST_SKIP() << m_bus.Failure();
        }
        m_address = std::make_unique<SystemBusAddress>(m_bus.Address());
    }

    PrivateBus m_bus;
    std::unique_ptr<SystemBusAddress> m_address;
};

TEST_F(LogindHold, BeginTakesTheLockAndEndGivesItBack) {
    FakeLogin1 logind(m_bus.Address());
    ASSERT_TRUE(logind.Ready());
    auto hold = CreateSystemKeepAwake();
    ::testing::internal::CaptureStderr();
    hold->Begin(nullptr);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(said, IsEmpty());
    const auto calls = logind.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].what, kWhat);
    EXPECT_EQ(calls[0].who, "TR-520/521 CPU Update Utility");
    EXPECT_EQ(calls[0].why, "Updating the scanner's firmware");
    EXPECT_EQ(calls[0].mode, "block");
    EXPECT_TRUE(logind.IsHeld(0));

    hold->Begin(nullptr);  // already held: no second lock
    EXPECT_EQ(logind.Calls().size(), 1u);
    hold->End();
    EXPECT_TRUE(logind.AwaitReleased(0, 2000));
    hold->End();  // nothing held: nothing happens
    EXPECT_EQ(logind.Calls().size(), 1u);

    hold->Begin(nullptr);  // a new upload, a new lock
    ASSERT_EQ(logind.Calls().size(), 2u);
    EXPECT_TRUE(logind.IsHeld(1));
    hold.reset();  // going away gives it back too
    EXPECT_TRUE(logind.AwaitReleased(1, 2000));
}

enum class Bus { kMissing, kTest, kSilent };

// Where no lock can be had, the upload goes on with one line on stderr.
struct NoLockCase {
    const char* name;
    Bus bus;              // an address that leads nowhere, the test's bus, one that never answers
    bool logindThere;     // the stand-in owns the name
    const char* refusal;  // the D-Bus error it answers with, when any
    const char* reason;   // what the line says
    int leastMs;          // Begin takes at least this long
    int mostMs;           // and less than this
};

class NoLock : public LogindHold, public ::testing::WithParamInterface<NoLockCase> {};

TEST_P(NoLock, BeginGoesOnWithOneLineOnStderr) {
    const NoLockCase& c = GetParam();
    SilentBus silent;
    ASSERT_FALSE(c.bus == Bus::kSilent && silent.Address().empty()) << "no socket for the bus";
    const SystemBusAddress address(c.bus == Bus::kTest ? m_bus.Address()
                                   : c.bus == Bus::kSilent
                                       ? silent.Address()
                                       : "unix:path=/nonexistent/tr-no-bus/socket");
    std::unique_ptr<FakeLogin1> logind;
    if (c.logindThere) {
        logind = std::make_unique<FakeLogin1>(m_bus.Address());
        ASSERT_TRUE(logind->Ready());
        logind->RefuseWith("org.freedesktop.DBus.Error.AccessDenied", c.refusal);
    }
    auto hold = CreateSystemKeepAwake();
    ::testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    hold->Begin(nullptr);
    const auto took = std::chrono::steady_clock::now() - start;
    hold->End();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_GE(took, std::chrono::milliseconds(c.leastMs));
    EXPECT_LT(took, std::chrono::milliseconds(c.mostMs));
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_THAT(said, HasSubstr("sleep and shutdown are not held off during the upload"));
    EXPECT_THAT(said, HasSubstr(c.reason));
    if (logind) {
        EXPECT_EQ(logind->Calls().size(), 1u);
    }
}

// tr520-cli --quiet: the line goes where the program says, never past it to stderr.
TEST_F(LogindHold, AGivenReporterTakesTheLineInsteadOfStderr) {
    const SystemBusAddress nowhere("unix:path=/nonexistent/tr-no-bus/socket");
    std::vector<std::string> reported;
    auto hold = CreateSystemKeepAwake([&](const std::string& line) { reported.push_back(line); });
    ::testing::internal::CaptureStderr();
    hold->Begin(nullptr);
    hold->End();
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), IsEmpty());
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_THAT(reported[0], HasSubstr("sleep and shutdown are not held off during the upload"));
    EXPECT_EQ(reported[0].find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoLock,
    ::testing::Values(NoLockCase{"no_system_bus", Bus::kMissing, false, "", "no system bus", 0,
                                 2000},
                      NoLockCase{"no_logind_on_the_bus", Bus::kTest, false, "",
                                 "org.freedesktop.login1", 0, 2000},
                      NoLockCase{"logind_refuses", Bus::kTest, true, "Permission denied by policy",
                                 "Permission denied by policy", 0, 2000},
                      NoLockCase{"bus_never_answers", Bus::kSilent, false, "",
                                 "no answer from the system bus within 5 s", 4900, 6000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
