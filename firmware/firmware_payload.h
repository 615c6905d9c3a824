// The firmware record the utility carries, and the notation its version is shown in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// The one CPU image the utility sends, fixed when the program is built.
struct FirmwarePayload {
    static constexpr std::size_t kImageCapacity = 0x40000;  // bytes the image field holds

    std::uint32_t version;      // only the low 8 bits are the version byte
    std::uint32_t imageLength;  // valid bytes at the start of image
    std::uint8_t image[kImageCapacity];  // the firmware, zeros after imageLength

    // The version byte: the low 8 bits of the version word.
    std::uint8_t VersionByte() const { return static_cast<std::uint8_t>(version & 0xFF); }
    // The valid image bytes, read-only.
    std::span<const std::uint8_t> Image() const { return {image, imageLength}; }
};

// The record compiled into this program.
extern const FirmwarePayload g_carriedFirmware;
// The SHA-256 of its image as 64 lower-case hex digits, as sha256sum prints it; computed from
// the image file when the record was generated.
extern const char g_carriedFirmwareSha256[];

// A version byte in the notation "%d.%d0": 0x11 gives "1.10", 0x8F gives "0.150".
std::string VersionText(std::uint8_t versionByte);
