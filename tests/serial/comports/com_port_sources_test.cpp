// Which COM numbers the Windows port list shows as present, and what it names them, from
// scripted answers of the registry, the DOS device names, the device manager and wine.
#include "com_port_sources.h"

#include <gtest/gtest.h>

using namespace comports;

namespace {

constexpr unsigned long kRegDword = 4;
constexpr unsigned long kRegExpandText = 2;

// Answers each question from the test's lists and counts how often it was asked.
class ScriptedSources : public IComPortSources {
public:
    std::vector<RegistryValue> SerialPortMap() override {
        ++asked;
        return map;
    }
    std::vector<DosDevice> DosDevices() override {
        ++asked;
        return dos;
    }
    std::vector<SetupPort> SetupPorts() override {
        ++asked;
        return setup;
    }
    std::vector<WineLink> WineLinks() override {
        ++asked;
        return wine;
    }

    std::vector<RegistryValue> map;
    std::vector<DosDevice> dos;
    std::vector<SetupPort> setup;
    std::vector<WineLink> wine;
    int asked = 0;
};

struct NameCase {
    const char* name;
    std::optional<int> number;
};

class ComNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(ComNames, OnlyComOneTo256WithoutLeadingZerosOrPadding) {
    EXPECT_EQ(ParseComName(GetParam().name), GetParam().number) << "'" << GetParam().name << "'";
}

INSTANTIATE_TEST_SUITE_P(
    PortMapData, ComNames,
    ::testing::Values(NameCase{"COM1", 1}, NameCase{"com5", 5}, NameCase{"Com10", 10},
                      NameCase{"COM256", 256}, NameCase{"COM257", std::nullopt},
                      NameCase{"COM0", std::nullopt}, NameCase{"COM05", std::nullopt},
                      NameCase{"COM1000", std::nullopt}, NameCase{"COM", std::nullopt},
                      NameCase{"", std::nullopt}, NameCase{"COM5 ", std::nullopt},
                      NameCase{" COM5", std::nullopt}, NameCase{"COM5a", std::nullopt},
                      NameCase{"COM-1", std::nullopt}, NameCase{"COM+1", std::nullopt},
                      NameCase{"LPT1", std::nullopt}, NameCase{"\\\\.\\COM5", std::nullopt},
                      NameCase{"c:", std::nullopt}));

struct DeviceCase {
    SetupPort port;
    const char* device;
};

class SetupNames : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(SetupNames, FriendlyNameLosesOnlyTheSuffixThatNamesThisPort) {
    EXPECT_EQ(SetupPortDevice(GetParam().port), GetParam().device);
}

INSTANTIATE_TEST_SUITE_P(
    DeviceManager, SetupNames,
    ::testing::Values(
        DeviceCase{{"COM5", "USB Serial Port (COM5)", "USB Serial Port", true}, "USB Serial Port"},
        DeviceCase{{"COM12", "Silicon Labs CP210x USB to UART Bridge (com12)", "", false},
                   "Silicon Labs CP210x USB to UART Bridge"},
        DeviceCase{{"", "Prolific USB-to-Serial Comm Port (COM7)", "", true},
                   "Prolific USB-to-Serial Comm Port"},
        DeviceCase{{"COM3", "Standard Serial over Bluetooth link", "", true},
                   "Standard Serial over Bluetooth link"},
        // Renamed since: the stale name stays whole rather than lose a number it still shows.
        DeviceCase{{"COM5", "USB Serial Port (COM3)", "", true}, "USB Serial Port (COM3)"},
        DeviceCase{{"COM5", "Port (COM5) (COM5)", "", true}, "Port (COM5)"},
        DeviceCase{{"COM5", "Port(COM5)", "", true}, "Port(COM5)"},
        DeviceCase{{"COM5", " (COM5)", "", true}, " (COM5)"},
        DeviceCase{{"COM5", "", "USB Serial Device", true}, "USB Serial Device"},
        DeviceCase{{"COM5", "", "", true}, ""}));

class PortsFromSources : public ::testing::Test {
protected:
    const ComPortInfo& Port(int comNumber) {
        if (m_ports.empty()) {
            m_ports = DescribeComPorts(sources);
        }
        return m_ports.at(static_cast<std::size_t>(comNumber - 1));
    }
    std::vector<int> PresentNumbers() {
        Port(1);
        std::vector<int> numbers;
        for (const ComPortInfo& port : m_ports) {
            if (port.present) {
                numbers.push_back(port.comNumber);
            }
        }
        return numbers;
    }

    ScriptedSources sources;

private:
    std::vector<ComPortInfo> m_ports;
};

TEST_F(PortsFromSources, NothingListedGivesEveryNumberInOrderNotPresent) {
    const std::vector<ComPortInfo> ports = DescribeComPorts(sources);
    EXPECT_EQ(sources.asked, 4) << "each source once per look";
    ASSERT_EQ(ports.size(), static_cast<std::size_t>(kComPortCount));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].comNumber, static_cast<int>(i + 1));
        EXPECT_FALSE(ports[i].present);
        EXPECT_EQ(ports[i].device, "");
        EXPECT_EQ(ports[i].description, "COM" + std::to_string(i + 1) + ": not present");
    }
}

TEST_F(PortsFromSources, PortMapListsPresentPortsAndJunkValuesAreIgnored) {
    sources.map = {{"\\Device\\Serial0", kRegistryText, "COM1"},
                   {"\\Device\\VCP0", kRegistryText, "com5"},
                   {"\\Device\\Serial1", kRegDword, "COM6"},
                   {"\\Device\\Serial2", kRegExpandText, "COM7"},
                   {"\\Device\\Serial3", kRegistryText, "COM0"},
                   {"\\Device\\Serial4", kRegistryText, "COM300"},
                   {"\\Device\\Serial5", kRegistryText, ""},
                   {"\\Device\\Parallel0", kRegistryText, "LPT1"},
                   {"\\Device\\Serial6", kRegistryText, "COM8 "},
                   {"\\Device\\VCP1", kRegistryText, "COM5"}};
    EXPECT_EQ(PresentNumbers(), (std::vector<int>{1, 5}));
    EXPECT_EQ(Port(1).device, "\\Device\\Serial0");
    EXPECT_EQ(Port(1).description, "COM1: \\Device\\Serial0, present");
    EXPECT_EQ(Port(5).device, "\\Device\\VCP0") << "the first value that names the port";
    EXPECT_EQ(Port(6).description, "COM6: not present");
}

TEST_F(PortsFromSources, FriendlyNamesNamePresentAndUnpluggedPorts) {
    sources.map = {{"\\Device\\VCP0", kRegistryText, "COM5"}};
    sources.setup = {{"COM5", "USB Serial Port (COM5)", "USB Serial Port", true},
                     {"COM9", "Prolific USB-to-Serial Comm Port (COM9)", "", false},
                     {"COM11", "Communications Port (COM11)", "", true},
                     {"LPT1", "Printer Port (LPT1)", "", true},
                     {"", "Modem without a port", "", true}};
    EXPECT_EQ(PresentNumbers(), (std::vector<int>{5}));
    EXPECT_EQ(Port(5).device, "USB Serial Port");
    EXPECT_EQ(Port(5).description, "COM5: USB Serial Port, present");
    EXPECT_EQ(Port(9).description, "COM9: Prolific USB-to-Serial Comm Port, not present");
    // A device the device manager holds whose port the system does not list is not usable.
    EXPECT_FALSE(Port(11).present);
    EXPECT_EQ(Port(11).description, "COM11: Communications Port, not present");
}

TEST_F(PortsFromSources, PluggedInDeviceNamesTheNumberBeforeAnUnpluggedOneInEitherOrder) {
    const SetupPort old{"COM4", "Old Cable (COM4)", "", false};
    const SetupPort plugged{"COM4", "New Cable (COM4)", "", true};
    const SetupPort other{"COM4", "Other Phantom (COM4)", "", false};
    sources.map = {{"\\Device\\VCP0", kRegistryText, "COM4"}};
    for (const auto& order : {std::vector<SetupPort>{old, plugged, other},
                              std::vector<SetupPort>{plugged, other, old}}) {
        sources.setup = order;
        EXPECT_EQ(DescribeComPorts(sources)[3].device, "New Cable");
    }
    sources.setup = {old, other};
    EXPECT_EQ(DescribeComPorts(sources)[3].device, "Old Cable") << "else the first one";
}

TEST_F(PortsFromSources, DosDeviceNamesAddPortsTheMapLacks) {
    sources.map = {{"\\Device\\Serial0", kRegistryText, "COM1"}};
    sources.dos = {{"COM1", "\\Device\\Other"},
                   {"COM12", "\\Device\\com0com10"},
                   {"LPT1", "\\Device\\Parallel0"},
                   {"COM12A", "\\Device\\X"}};
    EXPECT_EQ(PresentNumbers(), (std::vector<int>{1, 12}));
    EXPECT_EQ(Port(1).device, "\\Device\\Serial0") << "the port map names it first";
    EXPECT_EQ(Port(12).description, "COM12: \\Device\\com0com10, present");
}

TEST_F(PortsFromSources, WineLinksToDevicesArePresentOthersAreNot) {
    sources.wine = {{"com40", false}, {"com41", true},  {"c:", false},
                    {"com0", false},  {"COM42", false}, {"com1", false}};
    sources.map = {{"\\Device\\Serial0", kRegistryText, "COM1"}};
    EXPECT_EQ(PresentNumbers(), (std::vector<int>{1, 40, 42}));
    EXPECT_EQ(Port(40).description, "COM40: wine link dosdevices/com40, present");
    EXPECT_EQ(Port(41).description, "COM41: not present") << "a plain file is no port";
    EXPECT_EQ(Port(1).device, "\\Device\\Serial0");
}

}  // namespace
