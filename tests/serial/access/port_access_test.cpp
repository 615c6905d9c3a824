// The words that tell a user why a device may not be opened and how to fix it, from the facts
// of the device node and of the user's groups.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "access_advice.h"
#include "user_database.h"

namespace {

using portaccess::AccessFacts;

struct AdviceRow {
    const char* name;
    AccessFacts facts;
    std::string advice;
};

AccessFacts Facts(const char* mode, const char* group, const char* owner, bool groupMayUse,
                  bool ownerMayUse, bool listed, bool thisSession) {
    return AccessFacts{mode, group, owner, groupMayUse, ownerMayUse, listed, thisSession};
}

class Advice : public ::testing::TestWithParam<AdviceRow> {};

TEST_P(Advice, NamesGroupModeAndTheFix) {
    EXPECT_EQ(portaccess::AdviceFor(GetParam().facts), GetParam().advice);
}

INSTANTIATE_TEST_SUITE_P(
    Users, Advice,
    ::testing::Values(
        AdviceRow{"not_in_the_group",
                  Facts("crw-rw----", "dialout", "root", true, true, false, false),
                  "(group dialout, mode crw-rw----): sudo usermod -aG dialout $USER, then log "
                  "out and in again."},
        AdviceRow{"joined_after_the_session_started",
                  Facts("crw-rw----", "dialout", "root", true, true, true, false),
                  "(group dialout, mode crw-rw----): your session started before you joined "
                  "dialout: log out and in again."},
        AdviceRow{"the_group_may_not_use_it",
                  Facts("crw-------", "root", "root", false, true, false, false),
                  "(group root, mode crw-------): only root may open it."},
        AdviceRow{"another_users_device",
                  Facts("crw--w----", "tty", "alice", false, true, false, true),
                  "(group tty, mode crw--w----): only its owner alice may open it."},
        AdviceRow{"names_shown_escaped",
                  Facts("crw--w----", "dial\x1b]0;PWN\aout", "al\nice", false, true, false, true),
                  "(group dial\\x1B]0;PWN\\x07out, mode crw--w----): only its owner al\\x0Aice "
                  "may open it."},
        AdviceRow{"in_the_group_yet_refused",
                  Facts("crw-rw----", "dialout", "root", true, true, true, true),
                  "(group dialout, mode crw-rw----)."}),
    [](const auto& info) { return std::string(info.param.name); });

// Several ports are looked at on several threads at once: each thread must get its own group's
// name, never another thread's, nor a line of the database half read.
TEST(UserDatabase, EachThreadGetsItsOwnGroupsName) {
    gid_t other = 1;
    while (other < 70000 && !userdb::GroupName(other)) {
        ++other;
    }
    const auto root = userdb::GroupName(0);
    const auto second = userdb::GroupName(other);
    ASSERT_TRUE(root && second) << "needs two named groups";
    auto wrongAnswers = [](gid_t gid, const std::string& name) {
        int wrong = 0;
        for (int i = 0; i < 20000; ++i) {
            wrong += userdb::GroupName(gid) != name ? 1 : 0;
        }
        return wrong;
    };
    int wrongRoot = 0;
    int wrongSecond = 0;
    {
        std::jthread a([&] { wrongRoot = wrongAnswers(0, *root); });
        std::jthread b([&] { wrongSecond = wrongAnswers(other, *second); });
    }
    EXPECT_EQ(wrongRoot + wrongSecond, 0);
}

}  // namespace
