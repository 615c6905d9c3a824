// TEST and UPDATE through the Win32 CSerial on a real COM port: under wine the port is a
// pseudo-terminal served by the native simulated scanner, which tests/wine/with_peer.sh
// starts with the options of each case and checks when the case is over.
#include <windows.h>
// After <windows.h>.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "diag_log.h"
#include "exchange_fakes.h"
#include "firmware_payload.h"
#include "firmware_upload.h"
#include "port_opener_and_clock.h"
#include "process_cpu.h"
#include "resource.h"
#include "version_check.h"

using namespace fakes;
using WallClock = std::chrono::steady_clock;

namespace {

const std::string kWriteFailed = "Unable to send data to the scanner. Please retry from step 4";

// The first 250 bytes of the carried image, in three packets; the peer expects the same.
std::unique_ptr<FirmwarePayload> SmallFirmware() {
    auto firmware = std::make_unique<FirmwarePayload>(g_carriedFirmware);
    firmware->imageLength = 250;
    return firmware;
}

// The COM number the peer published for this case.
int PeerComNumber() {
    const char* com = std::getenv("TR_TEST_COM");
    return com != nullptr ? std::atoi(com) : 0;
}

class ExchangeOnComPort : public ::testing::Test {
protected:
    void SetUp() override {
        const int com = PeerComNumber();
        ASSERT_GT(com, 0) << "TR_TEST_COM names no COM port; run through tests/wine/with_peer.sh";
        m_previousDir = std::filesystem::current_path();
        m_dir = std::filesystem::temp_directory_path() / ("tr_com_e2e_" + std::to_string(com));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        std::filesystem::current_path(m_dir);
        SetMainWindowTitleSource([] { return std::string("TR-520/521 CPU Update Utility"); });
        view.portSelection = com - 1;
        portIndex = com - 1;  // as a TEST would have stored it
    }
    void TearDown() override {
        SetMainWindowTitleSource({});
        if (!m_previousDir.empty()) {
            std::filesystem::current_path(m_previousDir);
            std::filesystem::remove_all(m_dir);
        }
    }

    void Test(const FirmwarePayload& firmware) {
        RunDialogTest(io, firmware, portIndex, scannerVersion);
    }
    // Runs UPDATE; returns its wall time.
    WallClock::duration Update(const FirmwarePayload& firmware) {
        const auto start = WallClock::now();
        RunDialogUpdate(io, firmware, portIndex);
        return WallClock::now() - start;
    }
    // The serial port's log lines so far (the log is text: CR LF ends read back as LF).
    std::vector<std::string> LogLines() const {
        std::ifstream in(m_dir / "TR-520_521.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    // What every UPDATE that opened the port ends with.
    void ExpectCleanUp(bool progressAtCleanUp = false) {
        std::vector<std::string> expected{"enable 1002 on", "enable 1003 off", "enable 1000 on",
                                          "port close", "cursor end"};
        if (progressAtCleanUp) {
            expected.insert(expected.begin() + 3, "progress delete");
        }
        const auto& entries = log.entries;
        ASSERT_GE(entries.size(), expected.size());
        EXPECT_EQ(std::vector<std::string>(entries.end() - expected.size(), entries.end()),
                  expected);
        EXPECT_EQ(view.progressAlive, 0);
    }

    EventLog log;
    RecordingView view{log};
    SerialPortOpener serial;
    LoggingPortOpener opener{serial, log};
    SystemClock clock;
    DialogIo io{view, opener, clock};
    int portIndex = -1;
    int scannerVersion = -1;

private:
    std::filesystem::path m_previousDir;
    std::filesystem::path m_dir;
};

}  // namespace

// Peer: the carried image expected, version FF. The peer exits 0 only when every byte of the
// image arrived in order and was judged correct.
TEST_F(ExchangeOnComPort, TestThenUpdateOfTheWholeCarriedImage) {
    Test(g_carriedFirmware);
    EXPECT_EQ(scannerVersion, 255);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].style, 64u);
    EXPECT_EQ(view.texts[IDC_VERSION].rfind("SCANNER VERSION: -none-\n", 0), 0u);
    ASSERT_TRUE(view.IsEnabled(IDC_UPDATE));

    Update(g_carriedFirmware);
    EXPECT_EQ(view.messages.size(), 1u) << view.messages.back().text;
    EXPECT_EQ(view.shown, std::set<int>{IDC_COMPLETE});
    ExpectCleanUp();
    const std::size_t packets = (g_carriedFirmware.imageLength + 119) / 120;
    ASSERT_EQ(view.progressPositions.size(), packets + 1);
    EXPECT_EQ(view.progressPositions[packets - 1], static_cast<int>(g_carriedFirmware.imageLength));
    EXPECT_TRUE(LogLines().empty()) << LogLines().front();
}

// Peer: the small image expected; packet 2 refused twice.
TEST_F(ExchangeOnComPort, NakNakAckIsSentThreeTimesAndAccepted) {
    Update(*SmallFirmware());
    EXPECT_TRUE(view.messages.empty()) << view.messages.front().text;
    EXPECT_EQ(view.shown, std::set<int>{IDC_COMPLETE});
    EXPECT_EQ(view.progressPositions, (std::vector<int>{120, 240, 250, 0}));
    ExpectCleanUp();
}

// Peer: the small image expected, every upload rejected with CAN.
TEST_F(ExchangeOnComPort, RejectedUpgrade) {
    Update(*SmallFirmware());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Scanner rejected the upgrade!");
    EXPECT_EQ(view.messages[0].style, 48u);
    EXPECT_TRUE(view.shown.empty());
    ExpectCleanUp();
}

// Peer: never sends the ready byte.
TEST_F(ExchangeOnComPort, NoReadyByte) {
    const auto start = WallClock::now();
    const double cpuStart = ProcessCpuMs();
    Test(g_carriedFirmware);
    const auto elapsed = WallClock::now() - start;
    const double cpu = ProcessCpuMs() - cpuStart;
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "No data from the scanner. Please retry from step 1");
    EXPECT_FALSE(view.IsEnabled(IDC_UPDATE));
    // 100 ms, then the 2000 ms window, less one step of wine's tick counter (about 16 ms),
    // which may move just after the window's start; generous above, the machine may be loaded.
    EXPECT_GE(elapsed, std::chrono::milliseconds(2080));
    EXPECT_LT(elapsed, std::chrono::milliseconds(8000));
    EXPECT_TRUE(LogLines().empty()) << "no read was started, so nothing failed";
    // Polling without waiting would keep the processor busy for all of the window.
    const double wallMs = std::chrono::duration<double, std::milli>(elapsed).count();
    EXPECT_LT(cpu, 0.2 * wallMs) << "CPU " << cpu << " ms in " << wallMs << " ms";
    RecordProperty("cpu_ms", static_cast<int>(cpu));
}

// Peer: hangs up after 100 data packets. Which failure the upload meets depends on where in
// the exchange the line goes: a hang-up flushes the last ACK unless it was read in time, and
// then the ACK wait runs out; after the ACK, the next packet's write fails.
TEST_F(ExchangeOnComPort, HangUpInMidUploadEndsWithAMessageAndTheCleanUp) {
    const auto elapsed = Update(g_carriedFirmware);
    ASSERT_EQ(view.messages.size(), 1u);
    const std::string& text = view.messages[0].text;
    // The line goes while the next packet is on its way out.
    EXPECT_EQ(text, kWriteFailed);
    EXPECT_EQ(view.messages[0].style, 48u);
    EXPECT_LT(log.IndexOf("message 48: " + text), log.IndexOf("progress delete"));
    EXPECT_TRUE(view.shown.empty());
    ExpectCleanUp(/*progressAtCleanUp=*/true);
    EXPECT_LT(elapsed, std::chrono::seconds(30));
    const auto accepted = view.progressPositions.size();
    EXPECT_EQ(accepted, 100u);
    // The failed write names its platform call and a real error code.
    const auto lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("CSerial::Write", 0), 0u) << lines.back();
    EXPECT_EQ(lines.back().find("==0x00000000"), std::string::npos) << lines.back();
    RecordProperty("message", text);
    RecordProperty("packets_accepted", static_cast<int>(accepted));
}
