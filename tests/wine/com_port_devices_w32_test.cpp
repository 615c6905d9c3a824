// The Windows port listing under wine: a COM link that a peer publishes in the prefix after
// the wine server started is present and named as a wine link, links that lead nowhere or to a
// plain file and numbers without a link are not, every port of the serial port map is present,
// a name from the system is shown with its control characters escaped, and one look at all 256
// numbers is cheap.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "com_port_devices.h"

using comports::ComPortInfo;

namespace {

int NumberFrom(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr ? std::atoi(value) : 0;
}

std::string Com(int n) {
    return "COM" + std::to_string(n);
}

// The COM numbers the serial port map lists, read here without the listing's code.
std::vector<int> SerialPortMapNumbers() {
    std::vector<int> numbers;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
        return numbers;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        char data[64] = {};
        DWORD size = sizeof data - 1;
        DWORD type = 0;
        const LONG status = RegEnumValueA(key, index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &size);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        int number = 0;
        if (status == ERROR_SUCCESS && type == REG_SZ && std::sscanf(data, "COM%d", &number) == 1) {
            numbers.push_back(number);
        }
    }
    RegCloseKey(key);
    return numbers;
}

class WinePortListing : public ::testing::Test {
protected:
    void SetUp() override {
        ports = comports::DescribeComPorts();
        ASSERT_EQ(ports.size(), static_cast<std::size_t>(comports::kComPortCount));
    }
    const ComPortInfo& Port(int n) { return ports.at(static_cast<std::size_t>(n - 1)); }

    std::vector<ComPortInfo> ports;
};

TEST_F(WinePortListing, PublishedLinkIsPresentOtherLinksAndUnusedNumbersAreNot) {
    const int com = NumberFrom("TR_TEST_COM");
    const int dangling = NumberFrom("TR_TEST_DANGLING_COM");
    const int plainFile = NumberFrom("TR_TEST_FILE_COM");
    const int absent = NumberFrom("TR_TEST_ABSENT_COM");
    ASSERT_TRUE(com > 0 && dangling > 0 && plainFile > 0 && absent > 0)
        << "with_peer.sh, with_com_links.sh and the test's environment name the numbers";
    EXPECT_TRUE(Port(com).present);
    EXPECT_EQ(Port(com).device, "wine link dosdevices/com" + std::to_string(com));
    EXPECT_EQ(Port(com).description,
              Com(com) + ": wine link dosdevices/com" + std::to_string(com) + ", present");
    for (const int n : {dangling, plainFile, absent}) {
        EXPECT_FALSE(Port(n).present) << Port(n).description;
        EXPECT_EQ(Port(n).description, Com(n) + ": not present");
    }
}

TEST_F(WinePortListing, EveryPortOfTheSerialPortMapIsPresent) {
    for (const int n : SerialPortMapNumbers()) {
        ASSERT_TRUE(n >= 1 && n <= comports::kComPortCount) << n;
        EXPECT_TRUE(Port(n).present) << Port(n).description;
        EXPECT_NE(Port(n).device, "") << "named by the map's device name at least";
    }
    for (int n = 1; n <= comports::kComPortCount; ++n) {
        EXPECT_EQ(Port(n).comNumber, n);
    }
}

// The letter é in the ANSI code page, empty when the code page has none.
std::string AnsiEAcute() {
    char text[8] = {};
    BOOL substituted = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, 0, L"\u00e9", 1, text, sizeof text, nullptr,
                                           &substituted);
    return length > 0 && !substituted ? std::string(text, static_cast<std::size_t>(length)) : "";
}

// While it lives, this process alone sees a key of the test's own as HKLM, holding a serial port
// map. Its keys are volatile: none outlives the wine server.
class OwnSerialPortMap {
public:
    OwnSerialPortMap() {
        RegCreateKeyExA(HKEY_CURRENT_USER, kKeys[0], 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &m_map, nullptr);
    }
    ~OwnSerialPortMap() {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(m_map);
        for (const char* key : kKeys) {
            RegDeleteKeyA(HKEY_CURRENT_USER, key);
        }
    }
    // Adds the port; from then on HKLM is the test's key.
    bool Add(const std::string& deviceName, const std::string& portName) {
        HKEY root = nullptr;
        const bool added =
            RegSetValueExA(m_map, deviceName.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(portName.c_str()),
                           static_cast<DWORD>(portName.size() + 1)) == ERROR_SUCCESS &&
            RegOpenKeyExA(HKEY_CURRENT_USER, kKeys[3], 0, KEY_READ, &root) == ERROR_SUCCESS;
        const bool standing = added && RegOverridePredefKey(HKEY_LOCAL_MACHINE, root) == 0;
        RegCloseKey(root);
        return standing;
    }

private:
    // The map first, its root last.
    static constexpr const char* kKeys[] = {
        "Software\\TR520 test\\HARDWARE\\DEVICEMAP\\SERIALCOMM",
        "Software\\TR520 test\\HARDWARE\\DEVICEMAP", "Software\\TR520 test\\HARDWARE",
        "Software\\TR520 test"};
    HKEY m_map = nullptr;
};

TEST(WineSystemNames, ControlCharactersAreEscapedLettersOfTheCodePageKept) {
    const std::string letter = AnsiEAcute();
    const std::string name = "\\Device\\Tr" + letter + "\x1b]0;PWN\x07\n2";
    OwnSerialPortMap map;
    ASSERT_TRUE(map.Add(name, "COM200"));
    const std::vector<ComPortInfo> ports = comports::DescribeComPorts();
    ASSERT_EQ(ports.size(), static_cast<std::size_t>(comports::kComPortCount));
    const ComPortInfo& port = ports[199];
    EXPECT_TRUE(port.present);
    const std::string shown = "\\Device\\Tr" + letter + "\\x1B]0;PWN\\x07\\x0A2";
    EXPECT_EQ(port.device, shown);
    EXPECT_EQ(port.description, "COM200: " + shown + ", present");
}

TEST_F(WinePortListing, OneLookAtAllNumbersIsCheap) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    constexpr int kLooks = 5;
    for (int i = 0; i < kLooks; ++i) {
        ASSERT_EQ(comports::DescribeComPorts().size(), ports.size());
    }
    QueryPerformanceCounter(&end);
    const double ms = (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart / kLooks;
    std::printf("one look at %d COM numbers: %.1f ms\n", comports::kComPortCount, ms);
    // The list looks each time it opens; a look that opened ports would take seconds.
    EXPECT_LT(ms, 500.0);
}

}  // namespace
