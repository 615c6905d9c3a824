// TEST and UPDATE for real: the exchanges through the real CSerial and clock, talking to the
// simulated scanner on a pseudo-terminal published as a COM port.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "diag_log.h"
#include "exchange_fakes.h"
#include "firmware_payload.h"
#include "firmware_upload.h"
#include "port_lock.h"
#include "port_opener_and_clock.h"
#include "resource.h"
#include "scanner_sim.h"
#include "version_check.h"

using namespace fakes;
using scannersim::Ms;
using WallClock = std::chrono::steady_clock;

namespace {

constexpr int kCom = 7;

const std::string kWriteFailed = "Unable to send data to the scanner. Please retry from step 4";

// A record small enough for quick fault runs: three packets (120, 120, 10 bytes).
std::unique_ptr<FirmwarePayload> SmallFirmware() {
    auto firmware = std::make_unique<FirmwarePayload>();
    firmware->version = 0x11;
    firmware->imageLength = 250;
    for (std::uint32_t i = 0; i < firmware->imageLength; ++i) {
        firmware->image[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    return firmware;
}

class ExchangeEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        // The serial port's log lines and the COM link land in a directory of the test's own.
        m_previousDir = std::filesystem::current_path();
        m_dir = std::filesystem::temp_directory_path() /
                ("tr_exchange_e2e_" + std::to_string(getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        std::filesystem::current_path(m_dir);
        if (const char* saved = getenv("XDG_CONFIG_HOME")) {
            m_savedConfig = saved;
        }
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        std::filesystem::create_directories(m_dir / "lock");
        portlock::SetLockDirectories({m_dir / "lock"});  // not the system's lock directory
        SetMainWindowTitleSource([] { return std::string("TR-520/521 CPU Update Utility"); });
        options.comNumber = kCom;
        view.portSelection = kCom - 1;
        portIndex = kCom - 1;  // as a TEST would have stored it
    }
    void TearDown() override {
        if (m_sim) {
            m_sim->Stop();
            // Whatever a case did, nothing reached the scanner that it did not expect.
            const auto summary = m_sim->GetSummary();
            EXPECT_EQ(summary.unexpectedBytes, 0) << scannersim::FormatSummary(summary);
        }
        SetMainWindowTitleSource({});
        portlock::SetLockDirectories({});
        m_savedConfig ? setenv("XDG_CONFIG_HOME", m_savedConfig->c_str(), 1)
                      : unsetenv("XDG_CONFIG_HOME");
        std::filesystem::current_path(m_previousDir);
        std::filesystem::remove_all(m_dir);
    }

    void StartSim() {
        m_sim = std::make_unique<scannersim::ScannerSim>(options);
        std::string error;
        if (!m_sim->Start(&error)) {
            GTEST_SKIP() << "no simulated scanner: " << error;
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
    scannersim::Summary Summary() {
        m_sim->WaitFinished(Ms(3000));
        return m_sim->GetSummary();
    }

    // What every UPDATE that opened the port ends with; after a transfer failure the progress
    // window is deleted there too.
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
        EXPECT_EQ(view.cursorDepth, 0);
    }

    scannersim::Options options;
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
    std::optional<std::string> m_savedConfig;
    std::unique_ptr<scannersim::ScannerSim> m_sim;
};

}  // namespace

TEST_F(ExchangeEndToEnd, TestThenUpdateOfTheWholeCarriedImage) {
    options.versionDigits = "FF";  // no application code: offered whatever version we carry
    options.deviceLike = true;
    StartSim();
    Test(g_carriedFirmware);
    EXPECT_EQ(portIndex, kCom - 1);
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
    EXPECT_EQ(view.progressPositions.back(), 0);

    const auto summary = Summary();
    EXPECT_EQ(summary.versionAcks, 1);
    EXPECT_EQ(summary.announcedLength, g_carriedFirmware.imageLength);
    EXPECT_EQ(summary.packets, static_cast<int>(packets));
    EXPECT_EQ(summary.resends, 0);
    EXPECT_TRUE(summary.completeCorrectUpload) << "the simulator checks every image byte";
    EXPECT_EQ(summary.verdictSent, std::optional<std::uint8_t>(0x04));
    EXPECT_TRUE(summary.problems.empty()) << summary.problems.front();
}

// A device echoes what reaches it while its settings say so, and our settings are not yet in
// force right after the open nor any more once the old ones are back: on no open may anything
// the scanner sent come back to it.
TEST_F(ExchangeEndToEnd, OnALineThatEchoesNothingComesBackToTheScanner) {
    const auto firmware = SmallFirmware();
    options.expectedImage.assign(firmware->image, firmware->image + firmware->imageLength);
    options.versionDigits = "FF";
    options.deviceLike = true;
    options.readyInterval = Ms(2);  // a byte in every moment the line might echo
    StartSim();
    for (int test = 0; test < 3; ++test) {
        Test(*firmware);
        ASSERT_EQ(scannerVersion, 255);
    }
    Update(*firmware);
    EXPECT_EQ(view.shown, std::set<int>{IDC_COMPLETE});
    const auto summary = Summary();
    EXPECT_EQ(summary.versionAcks, 3);
    EXPECT_TRUE(summary.completeCorrectUpload);
    EXPECT_EQ(summary.unexpectedBytes, 0) << scannersim::FormatSummary(summary);
}

TEST_F(ExchangeEndToEnd, NakNakAckIsSentThreeTimesAndAccepted) {
    const auto firmware = SmallFirmware();
    options.expectedImage.assign(firmware->image, firmware->image + firmware->imageLength);
    options.nak.packet = 2;
    options.nak.times = 2;
    StartSim();
    Update(*firmware);
    EXPECT_TRUE(view.messages.empty()) << view.messages.front().text;
    EXPECT_EQ(view.shown, std::set<int>{IDC_COMPLETE});
    ExpectCleanUp();
    const auto summary = Summary();
    EXPECT_EQ(summary.naksSent, 2);
    EXPECT_EQ(summary.resends, 2);
    EXPECT_EQ(summary.packets, 3);
    EXPECT_TRUE(summary.completeCorrectUpload);
    EXPECT_TRUE(summary.problems.empty()) << summary.problems.front();
}

TEST_F(ExchangeEndToEnd, RejectedUpgrade) {
    const auto firmware = SmallFirmware();
    options.expectedImage.assign(firmware->image, firmware->image + firmware->imageLength);
    options.verdict = scannersim::VerdictMode::Reject;
    StartSim();
    Update(*firmware);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Scanner rejected the upgrade!");
    EXPECT_EQ(view.messages[0].style, 48u);
    EXPECT_LT(log.IndexOf("progress delete"),
              log.IndexOf("message 48: Scanner rejected the upgrade!"));
    EXPECT_TRUE(view.shown.empty());
    ExpectCleanUp();
    EXPECT_EQ(Summary().verdictSent, std::optional<std::uint8_t>(0x18));
}

TEST_F(ExchangeEndToEnd, NoReadyByte) {
    options.sendReady = false;
    StartSim();
    const auto testStart = WallClock::now();
    Test(g_carriedFirmware);
    const auto testTime = WallClock::now() - testStart;
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "No data from the scanner. Please retry from step 1");
    EXPECT_LT(log.IndexOf("message 48: No data from the scanner. Please retry from step 1"),
              log.IndexOf("port close"));
    EXPECT_TRUE(view.IsEnabled(IDC_TEST));
    EXPECT_FALSE(view.IsEnabled(IDC_UPDATE));

    const auto updateTime = Update(g_carriedFirmware);
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[1].text, "No data from the scanner. Please retry from step 4");
    ExpectCleanUp();
    // 100 ms, then the 2000 ms window; generous above, the machine may be loaded.
    for (const auto elapsed : {testTime, updateTime}) {
        EXPECT_GE(elapsed, std::chrono::milliseconds(2090));
        EXPECT_LT(elapsed, std::chrono::milliseconds(6000));
    }
    EXPECT_EQ(Summary().startPackets, 0);
}

TEST_F(ExchangeEndToEnd, HangUpInMidTransferEndsWithAMessageAndTheCleanUp) {
    options.hangUpAfterPackets = 100;
    StartSim();
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
    const auto summary = Summary();
    EXPECT_TRUE(summary.hungUp);
    // The bar counts every packet the scanner took before the line went.
    EXPECT_EQ(view.progressPositions.size(), static_cast<std::size_t>(summary.packets));
    EXPECT_EQ(summary.packets, 100);
    RecordProperty("message", text);
}

// The simulator closes its end (a pulled cable) once a packet has arrived, before it answers:
// the port reports the hang-up, and the wait for the answer ends at once, not 2000 ms later.
TEST_F(ExchangeEndToEnd, HangUpWhileAwaitingAnAnswerEndsTheWaitAtOnce) {
    const auto firmware = SmallFirmware();
    options.expectedImage.assign(firmware->image, firmware->image + firmware->imageLength);
    options.hangUpAfterBytes = 10 + 243 + 243;  // the start packet and two data packets
    StartSim();
    const auto elapsed = Update(*firmware);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Timed out waiting for response from scanner");
    ExpectCleanUp(/*progressAtCleanUp=*/true);
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500)) << "100 ms, 200 ms, two packets";
    EXPECT_TRUE(Summary().hungUp);
    std::ifstream logFile("TR-520_521.log");
    const std::string logged((std::istreambuf_iterator<char>(logFile)),
                             std::istreambuf_iterator<char>());
    EXPECT_EQ(logged, "CSerial - the port went away: the device was removed or its cable pulled\n");
}
