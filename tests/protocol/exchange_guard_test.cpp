// One exchange at a time: TEST or UPDATE pressed while an exchange runs starts nothing.
#include "exchange_guard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "firmware_upload.h"
#include "resource.h"
#include "test_support.h"
#include "version_check.h"

using namespace fakes;

namespace {

class NestedExchangeTest : public ExchangeTest {
protected:
    // Presses TEST and then UPDATE as an event reaching the dialog mid-exchange would, and
    // checks that neither left a trace: no port opened, no box, no control or cursor change,
    // and the dialog's members untouched.
    void PressBothFromWithin() {
        ASSERT_TRUE(exchange::ExchangeGuard::IsRunning());
        const std::size_t eventsBefore = log.entries.size();
        const std::size_t opensBefore = opener.requests.size();
        int nestedIndex = -5;
        int nestedVersion = -6;
        view.portSelection = 9;  // a nested TEST would store this
        RunDialogTest(io, TestFirmware(), nestedIndex, nestedVersion);
        RunDialogUpdate(io, TestFirmware(), 9);
        view.portSelection = 3;
        EXPECT_EQ(log.entries.size(), eventsBefore);
        EXPECT_EQ(opener.requests.size(), opensBefore);
        EXPECT_EQ(nestedIndex, -5);
        EXPECT_EQ(nestedVersion, -6);
        ++nestedPresses;
    }

    void RunTest() { RunDialogTest(io, TestFirmware(), portIndex, scannerVersion); }

    int nestedPresses = 0;
    int portIndex = -1;
    int scannerVersion = -1;
};

}  // namespace

TEST_F(NestedExchangeTest, PressesDuringTestAreRefusedAndTestCompletes) {
    view.portSelection = 3;
    port.Arrive(150, {'C'});
    bool firstQuery = true;
    port.onWrite = [&](const WriteRecord&) {
        if (firstQuery) {
            firstQuery = false;
            PressBothFromWithin();
            port.ArriveAfter(20, VersionReply('1', '0'));
        }
    };
    view.whileMessageShown = [&](const MessageRecord&) { PressBothFromWithin(); };
    RunTest();
    EXPECT_EQ(nestedPresses, 2);
    ASSERT_EQ(opener.requests.size(), 1u);
    EXPECT_EQ(opener.requests[0].name, "\\\\.\\COM4");
    EXPECT_EQ(portIndex, 3);
    EXPECT_EQ(scannerVersion, 0x10);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "This update utility contains version 1.10.");
    EXPECT_FALSE(view.IsEnabled(IDC_TEST));
    EXPECT_TRUE(view.IsEnabled(IDC_UPDATE));
    EXPECT_FALSE(exchange::ExchangeGuard::IsRunning());
}

// The "No data" box stands while TEST still holds the port: a second open would meet its lock.
TEST_F(NestedExchangeTest, PressesWhileTestsFailureIsShownAreRefused) {
    view.whileMessageShown = [&](const MessageRecord&) { PressBothFromWithin(); };
    RunTest();
    EXPECT_EQ(nestedPresses, 1);
    EXPECT_EQ(opener.requests.size(), 1u);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "No data from the scanner. Please retry from step 1");
    EXPECT_TRUE(port.IsClosed());
}

TEST_F(NestedExchangeTest, PressesDuringUpdateAreRefusedAndEveryPacketGoesOnce) {
    const FirmwarePayload& firmware = g_carriedFirmware;
    ScriptedScanner scanner(port, firmware.imageLength);
    const auto answerScanner = port.onWrite;
    std::size_t writes = 0;
    port.onWrite = [&](const WriteRecord& write) {
        answerScanner(write);
        if (++writes == 3) {  // the start packet, then two data packets
            PressBothFromWithin();
        }
    };
    view.SetEnabled(IDC_TEST, false);
    view.SetEnabled(IDC_UPDATE, true);
    view.SetEnabled(IDC_COMPORT, false);
    scanner.Begin();
    RunDialogUpdate(io, firmware, 3);

    EXPECT_EQ(nestedPresses, 1);
    EXPECT_EQ(opener.requests.size(), 1u);
    EXPECT_EQ(scanner.image, Bytes(firmware.image, firmware.image + firmware.imageLength));
    EXPECT_EQ(scanner.sendsPerPacket, std::vector<int>(scanner.sendsPerPacket.size(), 1));
    EXPECT_EQ(scanner.malformedBytes, 0);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.shown.count(IDC_COMPLETE), 1u);
    EXPECT_EQ(view.cursorDepth, 0);
    EXPECT_EQ(log.WithPrefix("cursor begin").size(), 1u);
    EXPECT_EQ(log.WithPrefix("progress create").size(), 1u);
    EXPECT_FALSE(exchange::ExchangeGuard::IsRunning());
}

// Whichever way an exchange ends, the next press starts one.
TEST_F(NestedExchangeTest, EveryWayOutLetsTheNextExchangeStart) {
    opener.mode = ScriptedOpener::Mode::kThrowInt;
    RunTest();  // the port cannot be opened
    EXPECT_FALSE(exchange::ExchangeGuard::IsRunning());
    RunDialogUpdate(io, TestFirmware(), 0);
    EXPECT_FALSE(exchange::ExchangeGuard::IsRunning());
    EXPECT_EQ(opener.requests.size(), 2u);

    // A view that throws out of a message box unwinds the whole handler.
    view.whileMessageShown = [](const MessageRecord&) { throw std::runtime_error("view gone"); };
    EXPECT_THROW(RunTest(), std::runtime_error);
    EXPECT_FALSE(exchange::ExchangeGuard::IsRunning());
    EXPECT_THROW(RunDialogUpdate(io, TestFirmware(), 0), std::runtime_error);
    EXPECT_FALSE(exchange::ExchangeGuard::IsRunning());
    EXPECT_EQ(opener.requests.size(), 4u);
}

TEST(ExchangeGuard, HeldByTheFirstUntilItEnds) {
    EXPECT_FALSE(exchange::ExchangeGuard::IsRunning());
    {
        const exchange::ExchangeGuard first;
        EXPECT_TRUE(first.Claimed());
        const exchange::ExchangeGuard second;
        EXPECT_FALSE(second.Claimed());
        EXPECT_TRUE(exchange::ExchangeGuard::IsRunning());
    }
    EXPECT_FALSE(exchange::ExchangeGuard::IsRunning());
    const exchange::ExchangeGuard again;
    EXPECT_TRUE(again.Claimed());
}

// Several scanners at once: each port's exchange runs on a thread of its own, and one running
// there neither refuses nor releases another thread's.
TEST(ExchangeGuard, EachThreadHoldsItsOwn) {
    const exchange::ExchangeGuard mine;
    ASSERT_TRUE(mine.Claimed());
    bool otherClaimed = false;
    bool otherNestedRefused = false;
    bool otherSawNoneBefore = false;
    std::thread other([&] {
        otherSawNoneBefore = !exchange::ExchangeGuard::IsRunning();
        const exchange::ExchangeGuard theirs;
        otherClaimed = theirs.Claimed();
        const exchange::ExchangeGuard nested;
        otherNestedRefused = !nested.Claimed();
    });
    other.join();
    EXPECT_TRUE(otherSawNoneBefore);
    EXPECT_TRUE(otherClaimed);
    EXPECT_TRUE(otherNestedRefused) << "re-entry on the other thread is still refused";
    EXPECT_TRUE(exchange::ExchangeGuard::IsRunning()) << "its end did not release this thread's";
    const exchange::ExchangeGuard nestedHere;
    EXPECT_FALSE(nestedHere.Claimed());
}
