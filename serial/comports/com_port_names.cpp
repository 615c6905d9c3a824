#include "com_port_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "com_port_devices.h"
#include "user_database.h"

namespace comports {

namespace {

std::filesystem::path HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        return home;
    }
    if (const auto home = userdb::HomeDirectory(getuid())) {
        return *home;
    }
    return "/";
}

std::filesystem::path ConfigHome() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr) {
        std::filesystem::path path(config);
        if (path.is_absolute()) {
            return path;
        }
    }
    return HomeDirectory() / ".config";
}

bool StartsWithNoCase(const std::string& text, std::size_t at, const char* word) {
    for (std::size_t i = 0; word[i] != '\0'; ++i) {
        if (at + i >= text.size() ||
            std::toupper(static_cast<unsigned char>(text[at + i])) != word[i]) {
            return false;
        }
    }
    return true;
}

// The kernel keeps a node for every serial port slot, UART or not; type 0 marks an empty one.
bool EmptySerialSlot(const std::filesystem::path& device,
                     const std::filesystem::path& ttyClassDir) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(device, error);
    if (error) {
        return false;
    }
    std::ifstream type(ttyClassDir / real.filename() / "type");
    int value = -1;
    return type >> value && value == 0;
}

// Where a path leads once its links are followed, a dangling one too; empty when it cannot be
// told.
std::filesystem::path Destination(std::filesystem::path path) {
    constexpr int kLinkLimit = 40;  // as the kernel's; beyond it a loop of links
    std::error_code error;
    for (int link = 0; std::filesystem::is_symlink(path, error); ++link) {
        const std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error || link == kLinkLimit) {
            return {};
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    const auto real = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path() : real;
}

}  // namespace

std::filesystem::path PortLinkDirectory() {
    return ConfigHome() / "tr520-updater" / "ports";
}

std::filesystem::path PortLinkPath(int comNumber) {
    return PortLinkDirectory() / ("com" + std::to_string(comNumber));
}

std::optional<int> ComNumberFromName(const std::string& name) {
    const std::string devicePrefix = "\\\\.\\";
    std::size_t at = name.compare(0, devicePrefix.size(), devicePrefix) == 0 ? 4 : 0;
    if (!StartsWithNoCase(name, at, "COM")) {
        return std::nullopt;
    }
    at += 3;
    const std::size_t digits = name.size() - at;
    // Up to six digits keeps the number far from overflow; no port is numbered that high.
    if (digits == 0 || digits > 6 || name[at] == '0') {
        return std::nullopt;
    }
    int number = 0;
    for (std::size_t i = at; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) {
            return std::nullopt;
        }
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

std::optional<std::string> ConventionalDevice(int comNumber) {
    if (comNumber >= 1 && comNumber <= 32) {
        return "/dev/ttyS" + std::to_string(comNumber - 1);
    }
    if (comNumber >= 33 && comNumber <= 64) {
        return "/dev/ttyUSB" + std::to_string(comNumber - 33);
    }
    if (comNumber >= 65 && comNumber <= 96) {
        return "/dev/ttyACM" + std::to_string(comNumber - 65);
    }
    return std::nullopt;
}

std::optional<std::string> DevicePathForPortName(const std::string& name) {
    const auto comNumber = ComNumberFromName(name);
    if (!comNumber) {
        return name;
    }
    const std::filesystem::path link = PortLinkPath(*comNumber);
    std::error_code error;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(link, error))) {
        return link.string();
    }
    return ConventionalDevice(*comNumber);
}

bool SameDevice(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) {
        return false;
    }
    if (S_ISCHR(first.st_mode) || S_ISCHR(second.st_mode)) {
        return S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode) && first.st_rdev == second.st_rdev;
    }
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::optional<int> ComNumberOfDevice(const std::string& devicePath) {
    // A device that is not there now is known by the path its links lead to.
    const std::filesystem::path destination = Destination(devicePath);
    for (int comNumber = 1; comNumber <= kComPortCount; ++comNumber) {
        const auto path = DevicePathForPortName("COM" + std::to_string(comNumber));
        if (path && (SameDevice(*path, devicePath) ||
                     (!destination.empty() && Destination(*path) == destination))) {
            return comNumber;
        }
    }
    return std::nullopt;
}

bool DevicePresent(const std::filesystem::path& device, const std::filesystem::path& ttyClassDir) {
    std::error_code error;
    return std::filesystem::is_character_file(device, error) &&
           !EmptySerialSlot(device, ttyClassDir);
}

PortDevice DescribeComPort(int comNumber, const std::filesystem::path& ttyClassDir) {
    PortDevice described;
    const std::filesystem::path link = PortLinkPath(comNumber);
    std::error_code error;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(link, error))) {
        described.link = link;
        const std::filesystem::path target = std::filesystem::read_symlink(link, error);
        // A relative link points from the links' directory.
        described.device =
            error ? link.string() : (link.parent_path() / target).lexically_normal().string();
        described.present = DevicePresent(link, ttyClassDir);
    } else if (const auto device = ConventionalDevice(comNumber)) {
        described.device = *device;
        described.present = DevicePresent(*device, ttyClassDir);
    }
    return described;
}

}  // namespace comports
