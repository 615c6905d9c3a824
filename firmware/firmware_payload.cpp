#include "firmware_payload.h"

#include <cstdio>

std::string VersionText(std::uint8_t versionByte) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d0", (versionByte >> 4) & 7, versionByte & 15);
    return text;
}
