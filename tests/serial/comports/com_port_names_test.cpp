// COM port names on Linux: the per-user links first, then the conventional device table.
#include "com_port_names.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace comports;

namespace {

// Points XDG_CONFIG_HOME at a fresh directory for the test, restoring it afterwards.
class PortLinks : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = getenv("XDG_CONFIG_HOME")) {
            m_saved = old;
        }
        m_config = fs::temp_directory_path() / ("com_names_test_" + std::to_string(getpid()));
        fs::remove_all(m_config);
        setenv("XDG_CONFIG_HOME", m_config.c_str(), 1);
    }
    void TearDown() override {
        if (m_saved) {
            setenv("XDG_CONFIG_HOME", m_saved->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        fs::remove_all(m_config);
    }
    fs::path m_config;
    std::optional<std::string> m_saved;
};

TEST(ComNames, NumbersOfComNames) {
    EXPECT_EQ(ComNumberFromName("\\\\.\\COM4"), 4);
    EXPECT_EQ(ComNumberFromName("\\\\.\\COM256"), 256);
    EXPECT_EQ(ComNumberFromName("COM12"), 12);
    EXPECT_EQ(ComNumberFromName("com3"), 3);
    for (const char* name : {"\\\\.\\COM", "\\\\.\\COM0", "\\\\.\\COM04", "\\\\.\\COM4x",
                             "\\\\.\\LPT1", "/dev/ttyUSB0", "", "COM-1", "COM1234567"}) {
        EXPECT_EQ(ComNumberFromName(name), std::nullopt) << name;
    }
}

TEST(ComNames, ConventionalDeviceTable) {
    EXPECT_EQ(ConventionalDevice(1), "/dev/ttyS0");
    EXPECT_EQ(ConventionalDevice(32), "/dev/ttyS31");
    EXPECT_EQ(ConventionalDevice(33), "/dev/ttyUSB0");
    EXPECT_EQ(ConventionalDevice(64), "/dev/ttyUSB31");
    EXPECT_EQ(ConventionalDevice(65), "/dev/ttyACM0");
    EXPECT_EQ(ConventionalDevice(96), "/dev/ttyACM31");
    EXPECT_EQ(ConventionalDevice(97), std::nullopt);
    EXPECT_EQ(ConventionalDevice(256), std::nullopt);
    EXPECT_EQ(ConventionalDevice(0), std::nullopt);
}

TEST_F(PortLinks, LinkDirectoryFollowsXdgConfigHome) {
    EXPECT_EQ(PortLinkDirectory(), m_config / "tr520-updater" / "ports");
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    const char* home = getenv("HOME");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(PortLinkDirectory(), fs::path(home) / ".config" / "tr520-updater" / "ports")
        << "a relative XDG_CONFIG_HOME is ignored";
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(PortLinkDirectory(), fs::path(home) / ".config" / "tr520-updater" / "ports");
}

TEST_F(PortLinks, LinkWinsOverTheTableEvenWhenDangling) {
    fs::create_directories(PortLinkDirectory());
    fs::create_symlink("/dev/null", PortLinkPath(33));
    fs::create_symlink("/nonexistent/device", PortLinkPath(200));
    EXPECT_EQ(DevicePathForPortName("\\\\.\\COM33"), PortLinkPath(33).string());
    EXPECT_EQ(DevicePathForPortName("\\\\.\\COM200"), PortLinkPath(200).string());
    EXPECT_EQ(DevicePathForPortName("\\\\.\\COM34"), "/dev/ttyUSB1");
    EXPECT_EQ(DevicePathForPortName("\\\\.\\COM150"), std::nullopt);
    EXPECT_EQ(DevicePathForPortName("/dev/pts/7"), "/dev/pts/7");
}

// A device path given as a port is named by the COM number that leads to it: through a link
// or the fixed table, the device compared (character devices by their number), or, for one
// that is not there now, the path.
TEST_F(PortLinks, ADevicePathHasTheComNumberThatLeadsThere) {
    fs::create_directories(PortLinkDirectory());
    fs::create_symlink("/dev/zero", PortLinkPath(7));
    fs::create_symlink("/nonexistent/device", PortLinkPath(40));
    const fs::path ownLink = m_config / "my-cable";
    fs::create_symlink("/dev/zero", ownLink);
    EXPECT_EQ(ComNumberOfDevice("/dev/zero"), 7);
    EXPECT_EQ(ComNumberOfDevice(ownLink.string()), 7) << "another link to the same device";
    EXPECT_EQ(ComNumberOfDevice("/nonexistent/device"), 40);
    EXPECT_EQ(ComNumberOfDevice("/dev/ttyUSB31"), 64) << "present or not";
    EXPECT_EQ(ComNumberOfDevice("/dev/null"), std::nullopt);
    EXPECT_TRUE(SameDevice("/dev/zero", ownLink.string()));
    EXPECT_FALSE(SameDevice("/dev/zero", "/dev/null"));
    EXPECT_FALSE(SameDevice("/dev/zero", "/nonexistent/device"));
}

}  // namespace
