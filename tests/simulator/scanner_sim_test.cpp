// The simulated scanner, driven through the real CSerial on its published COM port, as the
// utility would drive it: its checks of what it receives, and its answers.
#include "scanner_sim.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>

#include "com_port_names.h"
#include "cserial.h"
#include "firmware_payload.h"
#include "link_frame.h"
#include "log_capture.h"
#include "port_lock.h"
#include "raw_pty.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Clock = std::chrono::steady_clock;
using scannersim::Ms;

constexpr int kCom = 5;

// The utility's side of the link, in the few steps these tests need.
class Utility {
public:
    explicit Utility(const std::string& portName)
        : m_port(std::make_unique<CSerial>(portName.c_str(), 115200, 'N', 8, 1, true, true)) {}

    // The next byte other than those skipped within ms; none when the time ran out.
    std::optional<std::uint8_t> Await(int ms, std::initializer_list<std::uint8_t> skip = {}) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            std::uint8_t byte = 0;
            if (m_port->BytesWaiting() > 0 && m_port->Read(&byte, 1, 1000) == 1) {
                if (std::find(skip.begin(), skip.end(), byte) == skip.end()) {
                    return byte;
                }
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        return std::nullopt;
    }
    void Send(const std::uint8_t* bytes, std::size_t count) {
        ASSERT_EQ(m_port->Write(bytes, static_cast<int>(count), 5000), static_cast<int>(count));
    }
    void Send(const scanlink::LinkFrame& frame) { Send(frame.data(), frame.size); }
    void SendByte(std::uint8_t byte) { Send(&byte, 1); }

    // TEST: ready byte, query, reply, ACK; returns the version digits.
    std::string VersionCheck() {
        EXPECT_EQ(Await(2000), scanlink::READY);
        m_port->DrainInput();
        Send(scanlink::kQueryPacket.data(), scanlink::kQueryPacket.size());
        scanlink::VersionReplyMatcher matcher;
        matcher.Clear();
        const auto end = Clock::now() + std::chrono::milliseconds(2000);
        while (Clock::now() < end) {
            const auto byte = Await(100);
            if (byte && matcher.Push(*byte)) {
                SendByte(scanlink::ACK);
                return {matcher.D1(), matcher.D2()};
            }
        }
        return {};
    }
    // UPDATE up to the go-ahead: ready byte, start packet, ENQ (skipping 'C' and DLE).
    bool StartUpload(std::uint32_t length) {
        if (Await(2000) != scanlink::READY) {
            return false;
        }
        scanlink::LinkFrame start;
        scanlink::BuildStartPacket(start, length);
        Send(start);
        return Await(1000, {scanlink::READY, scanlink::DLE}) == scanlink::ENQ;
    }
    // Sends one data packet and returns the answer.
    std::optional<std::uint8_t> SendPacket(const std::uint8_t* bytes, std::size_t count) {
        scanlink::LinkFrame frame;
        scanlink::BuildDataPacket(frame, bytes, count);
        Send(frame);
        return Await(2000);
    }
    // Sends the image in full packets and returns the verdict (DLE skipped).
    std::optional<std::uint8_t> SendImage(const std::vector<std::uint8_t>& image) {
        for (std::size_t offset = 0; offset < image.size();) {
            const std::size_t n = std::min(scanlink::kMaxDataBytes, image.size() - offset);
            std::optional<std::uint8_t> answer;
            for (int send = 0; send < 3 && answer != scanlink::ACK; ++send) {
                answer = SendPacket(image.data() + offset, n);
            }
            if (answer != scanlink::ACK) {
                return answer;
            }
            offset += n;
        }
        return Await(3000, {scanlink::DLE});
    }
    CSerial& Port() { return *m_port; }

private:
    std::unique_ptr<CSerial> m_port;
};

std::vector<std::uint8_t> TestImage(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    std::iota(image.begin(), image.end(), std::uint8_t{0x5A});
    return image;
}

// A simulator published as COM5 in a link directory of the test's own.
class SimulatedScanner : public ::testing::Test {
protected:
    void SetUp() override {
        m_config = m_log.Dir() / "config";
        if (const char* saved = getenv("XDG_CONFIG_HOME")) {
            m_savedConfig = saved;
        }
        setenv("XDG_CONFIG_HOME", m_config.c_str(), 1);
        std::filesystem::create_directories(m_log.Dir() / "lock");
        portlock::SetLockDirectories({m_log.Dir() / "lock"});  // not the system's lock directory
        m_options.comNumber = kCom;
        m_options.expectedImage = TestImage(250);
    }
    void TearDown() override {
        if (m_sim) {
            m_sim->Stop();
        }
        portlock::SetLockDirectories({});
        m_savedConfig ? setenv("XDG_CONFIG_HOME", m_savedConfig->c_str(), 1)
                      : unsetenv("XDG_CONFIG_HOME");
    }
    void StartSim() {
        m_sim = std::make_unique<scannersim::ScannerSim>(m_options);
        std::string error;
        if (!m_sim->Start(&error)) {
            GTEST_SKIP() << "no simulated scanner: " << error;
        }
    }
    std::string PortName() const { return "\\\\.\\COM" + std::to_string(kCom); }

    LogCapture m_log;
    std::filesystem::path m_config;
    std::optional<std::string> m_savedConfig;
    scannersim::Options m_options;
    std::unique_ptr<scannersim::ScannerSim> m_sim;
};

TEST_F(SimulatedScanner, TestThenUpdateThroughTwoOpensOfThePort) {
    m_options.versionDigits = "0F";
    StartSim();
    EXPECT_EQ(m_sim->LinkPath(), comports::PortLinkPath(kCom));
    {
        Utility test(PortName());
        EXPECT_THROW(Utility{PortName()}, int) << "the port is held while TEST runs";
        EXPECT_EQ(test.VersionCheck(), "0F");
    }
    {
        Utility update(PortName());
        ASSERT_TRUE(update.StartUpload(250));
        EXPECT_EQ(update.SendImage(TestImage(250)), scanlink::EOT);
    }
    ASSERT_TRUE(m_sim->WaitFinished(Ms(2000)));
    const auto summary = m_sim->GetSummary();
    EXPECT_EQ(summary.versionAcks, 1);
    EXPECT_EQ(summary.startPackets, 1);
    EXPECT_EQ(summary.announcedLength, 250u);
    EXPECT_EQ(summary.packets, 3);
    EXPECT_EQ(summary.imageBytes, 250u);
    EXPECT_TRUE(summary.imageCorrect);
    EXPECT_TRUE(summary.completeCorrectUpload);
    EXPECT_EQ(summary.verdictSent, scanlink::EOT);
    EXPECT_THAT(summary.problems, IsEmpty());
    // The second open meets the lock file the first one took.
    EXPECT_THAT(m_log.Lines(), ::testing::ElementsAre(::testing::StartsWith(
                                   "CSerial::Open - CreateFile(\\\\.\\COM5 [locked by PID ")));
}

// The link's folders leave with the simulator when it made them; the user's stay, and so do
// their contents.
TEST_F(SimulatedScanner, LeavesTheConfigFoldersAsItFoundThem) {
    const auto ports = comports::PortLinkPath(kCom).parent_path();
    StartSim();
    ASSERT_TRUE(std::filesystem::is_symlink(m_sim->LinkPath()));
    m_sim->Stop();
    EXPECT_FALSE(std::filesystem::exists(m_config)) << "made by the simulator, left behind";

    std::filesystem::create_directories(ports);
    std::ofstream(ports / "notes") << "the user's";
    StartSim();
    m_sim->Stop();
    EXPECT_TRUE(std::filesystem::exists(ports / "notes"));
    std::filesystem::remove(ports / "notes");
    StartSim();
    m_sim->Stop();
    EXPECT_TRUE(std::filesystem::is_directory(ports)) << "the user's own folder was removed";
}

// A summary after a correct upload and an abandoned one speaks of the abandoned one.
TEST_F(SimulatedScanner, AnAbandonedUploadAfterACorrectOneIsNeitherCompleteNorCorrect) {
    m_options.keepRunning = true;
    m_options.uploadIdle = Ms(300);
    StartSim();
    const auto image = TestImage(250);
    {
        Utility update(PortName());
        ASSERT_TRUE(update.StartUpload(250));
        ASSERT_EQ(update.SendImage(image), scanlink::EOT);
    }
    {
        Utility update(PortName());
        ASSERT_TRUE(update.StartUpload(250));
        ASSERT_EQ(update.SendPacket(image.data(), 120), scanlink::ACK);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (m_sim->GetSummary().problems.empty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto summary = m_sim->GetSummary();
    ASSERT_THAT(summary.problems, ElementsAre("upload abandoned after 120 image bytes"));
    EXPECT_EQ(summary.imageBytes, 120u);
    EXPECT_FALSE(summary.imageComplete);
    EXPECT_FALSE(summary.imageCorrect);
    EXPECT_TRUE(summary.completeCorrectUpload) << "the first one was";
    EXPECT_THAT(scannersim::FormatSummary(summary),
                HasSubstr("image bytes:         120\nimage correct:       no\n"));
}

TEST_F(SimulatedScanner, CorruptPacketsAreRefusedAndTheResendTaken) {
    StartSim();
    Utility update(PortName());
    ASSERT_TRUE(update.StartUpload(250));
    const auto image = TestImage(250);
    scanlink::LinkFrame frame;
    scanlink::BuildDataPacket(frame, image.data(), 120);
    frame.bytes[frame.size - 1] ^= 0x01;  // checksum
    update.Send(frame);
    EXPECT_EQ(update.Await(2000), scanlink::NAK);
    scanlink::BuildDataPacket(frame, image.data(), 120);
    frame.bytes[1] = 'a';  // a lowercase digit (0x5A has the high digit '5'; any letter will do)
    update.Send(frame);
    EXPECT_EQ(update.Await(2000), scanlink::NAK);
    EXPECT_EQ(update.SendImage(image), scanlink::EOT);
    const auto summary = m_sim->GetSummary();
    EXPECT_EQ(summary.corruptPackets, 2);
    EXPECT_EQ(summary.naksSent, 2);
    EXPECT_EQ(summary.resends, 2);
    EXPECT_EQ(summary.packets, 3);
    EXPECT_TRUE(summary.imageCorrect);
    EXPECT_EQ(summary.problems.size(), 2u);
}

TEST_F(SimulatedScanner, PacketPastTheAnnouncedLengthIsRefused) {
    StartSim();
    Utility update(PortName());
    ASSERT_TRUE(update.StartUpload(100));
    const auto image = TestImage(120);
    EXPECT_EQ(update.SendPacket(image.data(), 120), scanlink::NAK);
    EXPECT_EQ(update.SendPacket(image.data(), 100), scanlink::ACK);
    EXPECT_EQ(update.Await(3000, {scanlink::DLE}), scanlink::CAN) << "not the expected image";
    const auto summary = m_sim->GetSummary();
    EXPECT_TRUE(summary.imageComplete);
    EXPECT_FALSE(summary.imageCorrect);
    EXPECT_FALSE(summary.completeCorrectUpload);
}

TEST_F(SimulatedScanner, NakPatternAndKeepAlives) {
    m_options.nak.packet = 2;
    m_options.nak.times = 2;
    m_options.startBusy = Ms(400);
    m_options.verdictBusy = Ms(400);
    m_options.busyInterval = Ms(100);
    StartSim();
    Utility update(PortName());
    ASSERT_TRUE(update.Await(2000) == scanlink::READY);
    scanlink::LinkFrame start;
    scanlink::BuildStartPacket(start, 250);
    update.Send(start);
    int keepAlives = 0;
    std::optional<std::uint8_t> answer;
    while ((answer = update.Await(1000, {scanlink::READY})) == scanlink::DLE) {
        ++keepAlives;
    }
    EXPECT_EQ(answer, scanlink::ENQ);
    EXPECT_GE(keepAlives, 3);
    const auto image = TestImage(250);
    EXPECT_EQ(update.SendPacket(image.data(), 120), scanlink::ACK);
    EXPECT_EQ(update.SendPacket(image.data() + 120, 120), scanlink::NAK);
    EXPECT_EQ(update.SendPacket(image.data() + 120, 120), scanlink::NAK);
    EXPECT_EQ(update.SendPacket(image.data() + 120, 120), scanlink::ACK);
    EXPECT_EQ(update.SendPacket(image.data() + 240, 10), scanlink::ACK);
    keepAlives = 0;
    while ((answer = update.Await(1000)) == scanlink::DLE) {
        ++keepAlives;
    }
    EXPECT_EQ(answer, scanlink::EOT);
    EXPECT_GE(keepAlives, 3);
    const auto summary = m_sim->GetSummary();
    EXPECT_EQ(summary.resends, 2);
    EXPECT_EQ(summary.naksSent, 2);
    EXPECT_EQ(summary.corruptPackets, 0);
    EXPECT_TRUE(summary.completeCorrectUpload);
}

TEST_F(SimulatedScanner, ReadyBytesDoNotPileUpWhileNobodyListens) {
    m_options.readyInterval = Ms(20);
    StartSim();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const auto sent = m_sim->GetSummary().readyBytesSent;
    EXPECT_LE(sent, m_options.readyBacklogLimit);
    Utility test(PortName());
    const int waiting = test.Port().BytesWaiting();
    EXPECT_GT(waiting, 0);
    EXPECT_LE(waiting, m_options.readyBacklogLimit);
    // Once read, they come again at about the interval.
    test.Port().DrainInput();
    const auto before = m_sim->GetSummary().readyBytesSent;
    int received = 0;
    const auto end = Clock::now() + std::chrono::milliseconds(500);
    while (Clock::now() < end) {
        received += test.Await(50).has_value() ? 1 : 0;
    }
    const auto during = m_sim->GetSummary().readyBytesSent - before;
    EXPECT_GE(received, 8);
    EXPECT_LE(during, 40);
}

TEST_F(SimulatedScanner, HangUpEndsTheUtilitysTransfersWithoutHanging) {
    m_options.hangUpAfterPackets = 1;
    StartSim();
    Utility update(PortName());
    ASSERT_TRUE(update.StartUpload(250));
    const auto image = TestImage(250);
    scanlink::LinkFrame frame;
    scanlink::BuildDataPacket(frame, image.data(), 120);
    update.Send(frame);
    ASSERT_TRUE(m_sim->WaitFinished(Ms(2000)));
    EXPECT_TRUE(m_sim->GetSummary().hungUp);
    const auto start = Clock::now();
    EXPECT_EQ(update.Port().Write(frame.data(), static_cast<int>(frame.size), 5000), 0);
    std::uint8_t byte = 0;
    EXPECT_EQ(update.Port().Read(&byte, 1, 1000), 0);
    EXPECT_EQ(update.Port().BytesWaiting(), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(m_log.Lines().size(), 3u);  // the write's, the read's and the hang-up's
}

TEST_F(SimulatedScanner, VersionReplyOptions) {
    m_options.brokenReplyFirst = true;
    m_options.versionDigits = "1a";
    m_options.replyDelay = Ms(200);
    StartSim();
    Utility test(PortName());
    const auto start = Clock::now();
    EXPECT_EQ(test.VersionCheck(), "1a") << "the broken reply is skipped, the good one taken";
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(190));
}

TEST_F(SimulatedScanner, LineSpeedMakesAFullPacketTakeItsTime) {
    m_options.lineSpeed = true;
    StartSim();
    Utility update(PortName());
    ASSERT_TRUE(update.StartUpload(250));
    const auto image = TestImage(250);
    const auto start = Clock::now();
    EXPECT_EQ(update.SendPacket(image.data(), 120), scanlink::ACK);
    // 243 bytes at 86.8 us each, and the ACK's own 87 us.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(21));
}

TEST_F(SimulatedScanner, CarriedImageIsExpectedByDefault) {
    m_options.expectedImage.clear();
    m_options.verdict = scannersim::VerdictMode::Judge;
    StartSim();
    Utility update(PortName());
    const auto carried = g_carriedFirmware.Image();
    ASSERT_TRUE(update.StartUpload(static_cast<std::uint32_t>(carried.size())));
    EXPECT_EQ(update.SendImage({carried.begin(), carried.end()}), scanlink::EOT);
    const auto summary = m_sim->GetSummary();
    EXPECT_EQ(summary.packets, static_cast<int>((carried.size() + 119) / 120));
    EXPECT_TRUE(summary.completeCorrectUpload);
}

// Served through an existing terminal device left in its driver's settings (lines cooked, echo
// on), as a USB gadget's /dev/ttyGS0 is: the simulator makes it raw, so the query reaches it
// whole and none of the utility's bytes come back to the utility.
TEST_F(SimulatedScanner, ServesAnExistingDeviceMadeRaw) {
    int master = -1;
    int device = -1;  // kept open: the pseudo-terminal stands while the test runs
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &device, name, nullptr, nullptr), 0);
    m_options.devicePath = name;
    m_options.versionDigits = "0F";
    StartSim();
    EXPECT_EQ(m_sim->DevicePath(), name);
    EXPECT_TRUE(m_sim->LinkPath().empty()) << "an existing device is not published";
    // The far end's bytes as they arrive at the master, ready bytes left out.
    auto receive = [&](int ms, std::size_t count) {
        std::vector<std::uint8_t> bytes;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (bytes.size() < count && Clock::now() < end) {
            pollfd in{master, POLLIN, 0};
            std::uint8_t byte = 0;
            if (poll(&in, 1, 10) > 0 && read(master, &byte, 1) == 1 && byte != scanlink::READY) {
                bytes.push_back(byte);
            }
        }
        return bytes;
    };
    receive(300, 1);  // a ready byte or two have come by now
    ASSERT_EQ(write(master, scanlink::kQueryPacket.data(), scanlink::kQueryPacket.size()),
              static_cast<ssize_t>(scanlink::kQueryPacket.size()));
    const auto reply = receive(2000, 7);
    const std::vector<std::uint8_t> expected{scanlink::STX, 0x52, 0x35, '0', 'F', scanlink::ETX};
    ASSERT_EQ(reply.size(), 7u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reply.begin()))
        << "the reply first, with none of the query echoed before it";
    EXPECT_THAT(receive(200, 1), IsEmpty()) << "nothing after the reply";
    CloseRawPty(master, device);
}

}  // namespace
