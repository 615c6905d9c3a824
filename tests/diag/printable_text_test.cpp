#include "printable_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* what;
    std::string raw;
    std::string shown;
};

class PrintableTextTest : public ::testing::TestWithParam<Case> {};

TEST_P(PrintableTextTest, ShowsOnlyWhatCannotAct) {
    EXPECT_EQ(PrintableText(GetParam().raw), GetParam().shown) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Names, PrintableTextTest,
    ::testing::Values(
        Case{"plain", "ModemManager", "ModemManager"},
        Case{"terminal sequences", "a\x1b[2J\x1b]0;PWN\a", "a\\x1B[2J\\x1B]0;PWN\\x07"},
        Case{"a forged line", "cat\nMore: done", "cat\\x0AMore: done"},
        Case{"DEL and C1 controls", std::string("x\x7f") + "\xc2\x9b" + "1m",
             "x\\x7F\\xC2\\x9B1m"},
        Case{"a name in another script", "\xd0\xbc\xd0\xbe\xd0\xb4\xd0\xb5\xd0\xbc",
             "\xd0\xbc\xd0\xbe\xd0\xb4\xd0\xb5\xd0\xbc"},
        Case{"a right-to-left override", "cod\xe2\x80\xae" "exe.txt", "cod\\xE2\\x80\\xAEexe.txt"},
        Case{"invalid, truncated and overlong UTF-8", "\xff\xc3\xe2\x82\xc0\xaf",
             "\\xFF\\xC3\\xE2\\x82\\xC0\\xAF"},
        Case{"a NUL inside", std::string("a\0b", 3), "a\\x00b"}));

}  // namespace
