#include "diag_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Runs each test in a fresh working directory, since the log lands in the current one.
class DiagLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = fs::current_path();
        m_dir = fs::temp_directory_path() / ("diag_log_test_" + std::to_string(getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()
                                                 ->current_test_info()
                                                 ->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        fs::current_path(m_dir);
        SetTitle("TR-520/521 CPU Update Utility 1.10");
    }
    void TearDown() override {
        SetMainWindowTitleSource({});
        fs::current_path(m_previous);
        fs::remove_all(m_dir);
    }
    static void SetTitle(std::string title) {
        SetMainWindowTitleSource([title] { return title; });
    }
    // The file read back in text mode, as it was written: line ends come back as '\n'.
    static std::string Contents(const fs::path& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static std::string RawBytes(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path m_previous;
    fs::path m_dir;
};

}  // namespace

TEST_F(DiagLogTest, TwoCallsAppendTwoLinesToAnExistingFile) {
    std::ofstream("TR-520_521.log") << "earlier line\n";
    LogMessage("CSerial::Open - CreateFile(%s) failed, GetLastError()==0x%08X", "\\\\.\\COM4", 2u);
    LogMessage("CSerial::Read - WaitForSingleObject() timed out");
    EXPECT_EQ(Contents("TR-520_521.log"),
              "earlier line\n"
              "CSerial::Open - CreateFile(\\\\.\\COM4) failed, GetLastError()==0x00000002\n"
              "CSerial::Read - WaitForSingleObject() timed out\n");
}

TEST_F(DiagLogTest, LinesEndWithThePlatformsTextLineEnd) {
    LogMessage("first");
    LogMessage("second");
    // The same lines written through a text-mode stream: CR LF on Windows, LF elsewhere.
    std::ofstream("reference.txt") << "first\nsecond\n";
    EXPECT_EQ(RawBytes("TR-520_521.log"), RawBytes("reference.txt"));
}

TEST_F(DiagLogTest, PercentInTheMessageReachesTheFile) {
    LogMessage("%s", "100% done, %d left");
    EXPECT_EQ(Contents("TR-520_521.log"), "100% done, %d left\n");
}

TEST_F(DiagLogTest, BaseNameIsTheFirstWordMadeSafe) {
    EXPECT_EQ(GetLogBaseName(), "TR-520_521");
    SetTitle("NoBlankAtAll");
    EXPECT_EQ(GetLogBaseName(), "NoBlankAtAll");
    SetTitle(" starts with a blank");
    EXPECT_EQ(GetLogBaseName(), "");
    SetTitle("a\\b:c*d?e\"f<g>h|i.j rest");
    EXPECT_EQ(GetLogBaseName(), "a_b_c_d_e_f_g_h_i.j");
    SetTitle("");
    EXPECT_EQ(GetLogBaseName(), "");
}

TEST_F(DiagLogTest, TitleStartingWithABlankLogsToDotLog) {
    SetTitle(" x");
    LogMessage("line");
    EXPECT_EQ(Contents(".log"), "line\n");
}

TEST_F(DiagLogTest, WithoutAMainWindowTheApplicationTitleNamesTheLog) {
    SetMainWindowTitleSource({});
    EXPECT_EQ(ApplicationTitle(), "diag_log_test");
    EXPECT_EQ(GetLogBaseName(), "diag_log_test");
    LogMessage("no window yet");
    EXPECT_EQ(Contents("diag_log_test.log"), "no window yet\n");
}

TEST_F(DiagLogTest, LongMessagesAreCutAt259Characters) {
    const std::string exact(259, 'x');
    LogMessage("%s", exact.c_str());
    const std::string tooLong(1000, 'y');
    LogMessage("%s", tooLong.c_str());
    EXPECT_EQ(Contents("TR-520_521.log"), exact + "\n" + std::string(259, 'y') + "\n");
}

TEST_F(DiagLogTest, AnUnwritablePathDropsTheLineAndReturns) {
    // A base name that names a directory cannot be opened as a file.
    fs::create_directory("blocked.log");
    SetTitle("blocked title");
    LogMessage("dropped %d", 1);
    EXPECT_TRUE(fs::is_directory("blocked.log"));
    EXPECT_FALSE(fs::exists("TR-520_521.log"));
    SetTitle("TR-520/521 again");
    LogMessage("kept");
    EXPECT_EQ(Contents("TR-520_521.log"), "kept\n");
}

// Ports on threads of their own log at the same time: every line arrives whole, none lost.
TEST_F(DiagLogTest, LinesFromSeveralThreadsArriveWhole) {
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            // Long enough that a line written by halves, or formatted over by another thread,
            // would show.
            const std::string filler(200, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                LogMessage("thread %d line %03d %s", t, i, filler.c_str());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::istringstream lines(Contents("TR-520_521.log"));
    std::map<int, int> perThread;
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d ", &t, &i), 2) << line;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(line, "thread " + std::to_string(t) + " line " +
                            (i < 10    ? "00"
                             : i < 100 ? "0"
                                       : "") +
                            std::to_string(i) + " " + std::string(200, static_cast<char>('a' + t)))
            << "a torn line";
        EXPECT_EQ(i, perThread[t]++) << "each thread's lines in its order";
    }
    EXPECT_EQ(count, kThreads * kLines);
}
