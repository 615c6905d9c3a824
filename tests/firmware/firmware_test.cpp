#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "firmware_payload.h"

namespace {

// TR_PLACEHOLDER_FIRMWARE is 1 when the build carries the placeholder image as version 0x11.
constexpr bool kPlaceholder = TR_PLACEHOLDER_FIRMWARE != 0;

std::vector<std::uint8_t> ImageFile() {
    std::ifstream in(TR_FIRMWARE_IMAGE_PATH, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << TR_FIRMWARE_IMAGE_PATH;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(CarriedFirmware, RecordHoldsTheImageFileAndVersionItWasBuiltWith) {
    EXPECT_EQ(g_carriedFirmware.version, std::uint32_t{TR_FIRMWARE_VERSION_VALUE});
    const std::vector<std::uint8_t> file = ImageFile();
    ASSERT_FALSE(file.empty());
    ASSERT_EQ(g_carriedFirmware.imageLength, file.size());
    const auto image = g_carriedFirmware.Image();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin()));
    EXPECT_EQ(sizeof g_carriedFirmware.image, 262144u);
    for (std::size_t i = image.size(); i < FirmwarePayload::kImageCapacity; ++i) {
        ASSERT_EQ(g_carriedFirmware.image[i], 0) << "at " << i;
    }
}

TEST(CarriedFirmware, PlaceholderAsTheReadmeDescribesIt) {
    if (!kPlaceholder) {
        GTEST_SKIP() << "this build carries another image than the placeholder";
    }
    EXPECT_EQ(g_carriedFirmware.version, 0x00000011u);
    EXPECT_EQ(g_carriedFirmware.VersionByte(), 0x11);
    EXPECT_EQ(g_carriedFirmware.imageLength, 59862u);
    const auto image = g_carriedFirmware.Image();
    const std::set<std::uint8_t> values(image.begin(), image.end());
    EXPECT_EQ(values.size(), 256u);
    // The first bytes of the committed xorshift32 sequence: a wrong or shifted embed shows here.
    std::uint32_t state = 0x2545F491;
    for (std::size_t i = 0; i < 64; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        ASSERT_EQ(g_carriedFirmware.image[i], state & 0xFF) << "at " << i;
    }
}

TEST(VersionText, Notation) {
    EXPECT_EQ(VersionText(0x11), "1.10");
    EXPECT_EQ(VersionText(0x09), "0.90");
    EXPECT_EQ(VersionText(0x1A), "1.100");
    EXPECT_EQ(VersionText(0x8F), "0.150");  // bit 7 is not shown
    EXPECT_EQ(VersionText(0x00), "0.00");
    EXPECT_EQ(VersionText(0x25), "2.50");
}

TEST(VersionText, UpperBitsOfTheWordAreIgnored) {
    FirmwarePayload* record = new FirmwarePayload{};
    record->version = 0xABCDEF11;
    EXPECT_EQ(record->VersionByte(), 0x11);
    EXPECT_EQ(VersionText(record->VersionByte()), "1.10");
    delete record;
}
