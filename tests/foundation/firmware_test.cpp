#include <gtest/gtest.h>

#include <set>

#include "firmware_payload.h"

TEST(CarriedFirmware, RecordAsBuilt) {
    EXPECT_EQ(g_carriedFirmware.version, 0x00000011u);
    EXPECT_EQ(g_carriedFirmware.VersionByte(), 0x11);
    EXPECT_EQ(g_carriedFirmware.imageLength, 59862u);
    EXPECT_EQ(g_carriedFirmware.Image().size(), 59862u);
    EXPECT_EQ(sizeof g_carriedFirmware.image, 262144u);
}

TEST(CarriedFirmware, PlaceholderCoversEveryByteValueAndZerosFollow) {
    const auto image = g_carriedFirmware.Image();
    const std::set<std::uint8_t> values(image.begin(), image.end());
    EXPECT_EQ(values.size(), 256u);
    for (std::size_t i = image.size(); i < FirmwarePayload::kImageCapacity; ++i) {
        ASSERT_EQ(g_carriedFirmware.image[i], 0) << "at " << i;
    }
}

TEST(CarriedFirmware, PlaceholderStartsWithTheGeneratorsSequence) {
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
}

TEST(VersionText, UpperBitsOfTheWordAreIgnored) {
    FirmwarePayload* record = new FirmwarePayload{};
    record->version = 0xABCDEF11;
    EXPECT_EQ(record->VersionByte(), 0x11);
    EXPECT_EQ(VersionText(record->VersionByte()), "1.10");
    delete record;
}
