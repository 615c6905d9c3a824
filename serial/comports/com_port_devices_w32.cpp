// The COM numbers on Windows: the system's own lists, asked without opening any port (opening
// one raises DTR and RTS, which resets some devices). The rules are in com_port_sources.cpp.
#include <windows.h>
// Needs <windows.h> before it.
#include <setupapi.h>

#include <vector>

#include "com_port_devices.h"
#include "com_port_sources.h"
#include "printable_ansi_text.h"

namespace comports {

namespace {

// The device manager's class of serial and parallel ports, and the COM port interface that
// devices of other classes (modems, some USB adapters) expose.
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

constexpr DWORD kDosNamesLimit = 1 << 22;  // characters; far beyond any real name list

// Text up to the first NUL: registry data need not end in one.
std::string UpToNul(const char* data, std::size_t size) {
    std::size_t length = 0;
    while (length < size && data[length] != '\0') {
        ++length;
    }
    return std::string(data, length);
}

std::string QueryText(HKEY key, const char* name) {
    char data[256];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return "";
    }
    return UpToNul(data, size);
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    char data[512];
    DWORD type = 0;
    DWORD size = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(data), sizeof data, &size) ||
        type != REG_SZ) {
        return "";
    }
    return UpToNul(data, size);
}

void AddSetupPorts(const GUID& guid, DWORD flags, bool present, std::vector<SetupPort>& ports) {
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        SetupPort port;
        port.present = present;
        port.friendlyName = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
        port.description = DeviceProperty(set, device, SPDRP_DEVICEDESC);
        HKEY key =
            SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key != INVALID_HANDLE_VALUE) {
            port.portName = QueryText(key, "PortName");
            RegCloseKey(key);
        }
        ports.push_back(std::move(port));
    }
    SetupDiDestroyDeviceInfoList(set);
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The prefix's dosdevices directory as a Windows path; wine gives its configuration directory
// as "\??\Z:\home\...\.wine".
std::wstring WineDosDevicesDirectory() {
    wchar_t config[MAX_PATH * 2];
    const DWORD length = GetEnvironmentVariableW(L"WINECONFIGDIR", config, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2) {
        return L"";
    }
    std::wstring directory(config, length);
    if (directory.rfind(L"\\??\\", 0) == 0) {
        directory[1] = L'\\';
        directory[2] = L'?';
    }
    return directory + L"\\dosdevices\\";
}

std::string Narrow(const wchar_t* name) {
    std::string text;
    for (; *name != L'\0'; ++name) {
        if (*name > 0x7F) {
            return "";  // no COM link has such a name
        }
        text.push_back(static_cast<char>(*name));
    }
    return text;
}

class SystemSources : public IComPortSources {
public:
    std::vector<RegistryValue> SerialPortMap() override;
    std::vector<DosDevice> DosDevices() override;
    std::vector<SetupPort> SetupPorts() override;
    std::vector<WineLink> WineLinks() override;
};

std::vector<RegistryValue> SystemSources::SerialPortMap() {
    std::vector<RegistryValue> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
        return values;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        char data[256];
        DWORD size = sizeof data;
        DWORD type = 0;
        const LONG status = RegEnumValueA(key, index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &size);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status != ERROR_SUCCESS) {
            continue;  // a value too long for a port name is no port name
        }
        values.push_back({std::string(name, nameLength), type, UpToNul(data, size)});
    }
    RegCloseKey(key);
    return values;
}

std::vector<DosDevice> SystemSources::DosDevices() {
    std::vector<char> names(1 << 16);
    DWORD length = 0;
    while ((length = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()))) ==
               0 &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < kDosNamesLimit) {
        names.resize(names.size() * 2);
    }
    std::vector<DosDevice> devices;
    for (std::size_t at = 0; at < length && names[at] != '\0';) {
        const std::string name = UpToNul(names.data() + at, length - at);
        at += name.size() + 1;
        if (!ParseComName(name)) {
            continue;
        }
        char target[1024] = {};
        if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) {
            devices.push_back({name, UpToNul(target, sizeof target)});
        }
    }
    return devices;
}

std::vector<SetupPort> SystemSources::SetupPorts() {
    std::vector<SetupPort> ports;
    for (const bool present : {true, false}) {
        const DWORD presence = present ? DIGCF_PRESENT : 0;
        AddSetupPorts(kPortsClass, presence, present, ports);
        AddSetupPorts(kComPortInterface, presence | DIGCF_DEVICEINTERFACE, present, ports);
    }
    return ports;
}

// Each entry that a directory search finds leads somewhere that exists (a dangling link is not
// listed); a plain file or a directory has attributes, while wine gives none for a device.
std::vector<WineLink> SystemSources::WineLinks() {
    std::vector<WineLink> links;
    const std::wstring directory = RunningUnderWine() ? WineDosDevicesDirectory() : L"";
    if (directory.empty()) {
        return links;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"com*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return links;
    }
    do {
        const std::string name = Narrow(found.cFileName);
        const DWORD attributes = GetFileAttributesW((directory + found.cFileName).c_str());
        const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
        if (name.empty() || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            continue;
        }
        links.push_back({name, attributes != INVALID_FILE_ATTRIBUTES});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return links;
}

}  // namespace

std::vector<ComPortInfo> DescribeComPorts() {
    SystemSources sources;
    std::vector<ComPortInfo> ports = DescribeComPorts(sources);
    // The names in them are the system's (friendly names, driver device names): escaped once,
    // here, for every list and tooltip that shows them.
    for (ComPortInfo& port : ports) {
        port.device = PrintableAnsiText(port.device);
        port.description = PrintableAnsiText(port.description);
    }
    return ports;
}

}  // namespace comports
