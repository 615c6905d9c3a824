// What the COM port list tells about each COM number: the device, its link, and whether the
// device is there now.
#include "com_port_devices.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "com_port_names.h"

namespace fs = std::filesystem;
using namespace comports;

namespace {

// A private XDG_CONFIG_HOME with an empty link directory, a pseudo-terminal that stands for a
// plugged-in cable, and an empty stand-in for the kernel's terminal list.
class PortDevices : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = getenv("XDG_CONFIG_HOME")) {
            m_saved = old;
        }
        m_root = fs::temp_directory_path() / ("com_devices_test_" + std::to_string(getpid()));
        fs::remove_all(m_root);
        setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
        fs::create_directories(PortLinkDirectory());
        fs::create_directories(m_root / "sys");
        char name[256] = {};
        ASSERT_EQ(openpty(&m_master, &m_slave, name, nullptr, nullptr), 0);
        m_pty = name;
    }
    void TearDown() override {
        m_saved ? setenv("XDG_CONFIG_HOME", m_saved->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
        close(m_master);
        close(m_slave);
        fs::remove_all(m_root);
    }
    void SetKernelType(const std::string& type) {
        fs::create_directories(m_root / "sys" / fs::path(m_pty).filename());
        std::ofstream(m_root / "sys" / fs::path(m_pty).filename() / "type") << type << "\n";
    }
    PortDevice Describe(int comNumber) { return DescribeComPort(comNumber, m_root / "sys"); }

    fs::path m_root;
    std::string m_pty;
    int m_master = -1;
    int m_slave = -1;
    std::optional<std::string> m_saved;
};

TEST_F(PortDevices, LinkedDevicesPresentMissingOrNoTerminal) {
    fs::create_symlink(m_pty, PortLinkPath(7));
    fs::create_symlink("/nonexistent/ttyUSB99", PortLinkPath(8));
    std::ofstream(m_root / "plain-file") << "x";
    fs::create_symlink(m_root / "plain-file", PortLinkPath(9));

    const PortDevice plugged = Describe(7);
    EXPECT_EQ(plugged.device, m_pty);
    EXPECT_EQ(plugged.link, PortLinkPath(7));
    EXPECT_TRUE(plugged.present);

    const PortDevice missing = Describe(8);
    EXPECT_EQ(missing.device, "/nonexistent/ttyUSB99");
    EXPECT_EQ(missing.link, PortLinkPath(8));
    EXPECT_FALSE(missing.present);

    EXPECT_FALSE(Describe(9).present) << "a file that is not a device is no port";
}

TEST_F(PortDevices, RelativeLinkIsShownFromTheLinkDirectory) {
    fs::create_symlink("../../devs/cable", PortLinkPath(12));
    EXPECT_EQ(Describe(12).device, (m_root / "config" / "devs" / "cable").string());
    EXPECT_FALSE(Describe(12).present);
}

TEST_F(PortDevices, WithoutALinkTheTableNamesTheDevice) {
    EXPECT_EQ(Describe(33).device, "/dev/ttyUSB0");
    EXPECT_TRUE(Describe(33).link.empty());
    EXPECT_EQ(Describe(96).device, "/dev/ttyACM31");
    const PortDevice none = Describe(150);
    EXPECT_TRUE(none.device.empty());
    EXPECT_TRUE(none.link.empty());
    EXPECT_FALSE(none.present);
    // A link takes the number over, as it does when the port is opened.
    fs::create_symlink(m_pty, PortLinkPath(33));
    EXPECT_EQ(Describe(33).device, m_pty);
    EXPECT_TRUE(Describe(33).present);
}

// A link may lead anywhere: its target reaches the port list, the tooltip and the console with
// its control bytes escaped.
TEST_F(PortDevices, ALinksTargetIsShownEscaped) {
    fs::create_symlink("/nonexistent/a\x1b[2J\nb", PortLinkPath(7));
    const ComPortInfo info = DescribeComPorts()[6];
    EXPECT_EQ(info.device, "/nonexistent/a\\x1B[2J\\x0Ab");
    EXPECT_EQ(info.description, "COM7: /nonexistent/a\\x1B[2J\\x0Ab (per-user link " +
                                    PortLinkPath(7).string() + "), not present");
}

TEST_F(PortDevices, SerialSlotWithoutAUartIsNotPresent) {
    EXPECT_TRUE(DevicePresent(m_pty, m_root / "sys")) << "not listed: a device node is enough";
    SetKernelType("4");
    EXPECT_TRUE(DevicePresent(m_pty, m_root / "sys"));
    SetKernelType("0");
    EXPECT_FALSE(DevicePresent(m_pty, m_root / "sys"));
    fs::create_symlink(m_pty, PortLinkPath(3));
    EXPECT_FALSE(Describe(3).present) << "also behind a link";
}

}  // namespace
