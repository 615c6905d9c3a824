#include "link_frame.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "firmware_payload.h"

using namespace scanlink;

namespace {

std::vector<std::uint8_t> Bytes(const LinkFrame& frame) {
    return {frame.data(), frame.data() + frame.size};
}

// Pushes bytes one at a time; returns the index of the byte that completed a reply, or -1.
int FirstReplyAt(VersionReplyMatcher& matcher, const std::vector<std::uint8_t>& stream) {
    for (std::size_t i = 0; i < stream.size(); ++i) {
        if (matcher.Push(stream[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

TEST(LinkFrame, QueryAndControlBytes) {
    EXPECT_EQ(std::vector<std::uint8_t>(kQueryPacket.begin(), kQueryPacket.end()),
              (std::vector<std::uint8_t>{0x02, 0x56, 0x03, 0x59}));
    EXPECT_EQ(READY, 0x43);
    EXPECT_EQ(ENQ, 0x05);
    EXPECT_EQ(ACK, 0x06);
    EXPECT_EQ(EOT, 0x04);
    EXPECT_EQ(DLE, 0x10);
    EXPECT_EQ(NAK, 0x15);
    EXPECT_EQ(CAN, 0x18);
}

TEST(LinkFrame, ChecksumWrapsAndHexIsUppercase) {
    const std::uint8_t payload[] = {0xFF, 0xFF, 0x10};
    EXPECT_EQ(Checksum(payload, 3), (0xFF + 0xFF + 0x10 + 0x03) & 0xFF);
    EXPECT_EQ(Checksum(nullptr, 0), 0x03);
    EXPECT_EQ(HexDigits(0xAB), (std::array<char, 2>{'A', 'B'}));
    EXPECT_EQ(HexDigits(0x0F), (std::array<char, 2>{'0', 'F'}));
    EXPECT_EQ(HexDigits(0xE0), (std::array<char, 2>{'E', '0'}));
}

TEST(LinkFrame, StartPacketForA59862ByteImage) {
    LinkFrame frame;
    BuildStartPacket(frame, 59862);
    EXPECT_EQ(Bytes(frame), (std::vector<std::uint8_t>{0x02, 0xFA, 0x30, 0x30, 0x45, 0x39, 0x44,
                                                       0x36, 0x03, 0x55}));
}

TEST(LinkFrame, StartPacketLimits) {
    LinkFrame frame;
    BuildStartPacket(frame, 0xFFFFFF);
    EXPECT_EQ(frame.size, kStartPacketSize);
    EXPECT_EQ(frame.bytes[2], 'F');
    EXPECT_THROW(BuildStartPacket(frame, 0x1000000), std::out_of_range);
}

TEST(LinkFrame, DataPacketVectors) {
    LinkFrame frame;
    const std::uint8_t a5[] = {0xA5};
    BuildDataPacket(frame, a5, 1);
    EXPECT_EQ(Bytes(frame), (std::vector<std::uint8_t>{0x02, 0x41, 0x35, 0x03, 0x79}));

    const std::uint8_t zeroFF[] = {0x00, 0xFF};
    BuildDataPacket(frame, zeroFF, 2);
    EXPECT_EQ(Bytes(frame), (std::vector<std::uint8_t>{0x02, 0x30, 0x30, 0x46, 0x46, 0x03, 0xEF}));
}

TEST(LinkFrame, DataPacketSizesOverTheCarriedImage) {
    const auto image = g_carriedFirmware.Image();
    LinkFrame frame;
    BuildDataPacket(frame, image.data(), 120);
    EXPECT_EQ(frame.size, 243u);
    EXPECT_EQ(frame.bytes[0], STX);
    EXPECT_EQ(frame.bytes[241], ETX);
    EXPECT_EQ(frame.bytes[242], Checksum(frame.data() + 1, 240));

    // The last packet carries the rest: 102 bytes of a 59,862-byte image, 207 on the link.
    const std::size_t rest = image.size() - (image.size() - 1) / 120 * 120;
    BuildDataPacket(frame, image.data() + image.size() - rest, rest);
    EXPECT_EQ(frame.size, 2 * rest + 3);
    EXPECT_EQ(frame.bytes[frame.size - 2], ETX);
    BuildDataPacket(frame, image.data(), 102);
    EXPECT_EQ(frame.size, 207u);
}

TEST(LinkFrame, DataPacketRefusesCountsOutsideOneTo120) {
    LinkFrame frame;
    const std::uint8_t image[121] = {};
    EXPECT_THROW(BuildDataPacket(frame, image, 0), std::out_of_range);
    EXPECT_THROW(BuildDataPacket(frame, image, 121), std::out_of_range);
}

TEST(VersionReplyMatcher, FindsAReplyAfterNoise) {
    VersionReplyMatcher matcher;
    matcher.Clear();
    // 'C' ready bytes, a stray STX, then X=0x20 Y=0x21 and the digits "11".
    const std::uint8_t sum = (0x20 + 0x21 + '1' + '1' + 0x03) & 0xFF;
    const std::vector<std::uint8_t> stream{'C',  'C', 0x02, 0x99, 0x02, 0x20,
                                           0x21, '1', '1',  0x03, sum};
    EXPECT_EQ(FirstReplyAt(matcher, stream), 10);
    EXPECT_EQ(matcher.D1(), '1');
    EXPECT_EQ(matcher.D2(), '1');
}

TEST(VersionReplyMatcher, WrongChecksumThenRightOne) {
    VersionReplyMatcher matcher;
    matcher.Clear();
    const std::uint8_t sum = (0x00 + 0x00 + 'F' + 'F' + 0x03) & 0xFF;
    const std::vector<std::uint8_t> stream{0x02, 0x00, 0x00, 'F', 'F', 0x03, 0x00,
                                           0x02, 0x00, 0x00, 'F', 'F', 0x03, sum};
    EXPECT_EQ(FirstReplyAt(matcher, stream), 13);
    EXPECT_EQ(matcher.D1(), 'F');
}

TEST(VersionReplyMatcher, EtxInTheWrongPlaceIsNeverTaken) {
    VersionReplyMatcher matcher;
    matcher.Clear();
    // ETX one place early, then one place late; each checksum would match its own layout.
    EXPECT_EQ(FirstReplyAt(matcher, {0x02, 'A', 'B', 'C', 0x03, 0x00, 0x00}), -1);
    EXPECT_EQ(FirstReplyAt(matcher, {0x02, 'A', 'B', 'C', 'D', 'E', 0x03}), -1);
}

TEST(VersionReplyMatcher, FewerThanSevenBytesNeverMatch) {
    // All-zero window plus STX..ETX pieces: with only six bytes W0 can never be STX.
    VersionReplyMatcher matcher;
    matcher.Clear();
    EXPECT_EQ(FirstReplyAt(matcher, {0x00, 0x00, '0', '0', 0x03, 0x63}), -1);
    matcher.Clear();
    EXPECT_EQ(FirstReplyAt(matcher, {}), -1);
    EXPECT_FALSE(matcher.IsValidReply());
}

TEST(VersionReplyMatcher, ClearForgetsAnEarlierReply) {
    VersionReplyMatcher matcher;
    matcher.Clear();
    const std::uint8_t sum = (1 + 2 + '1' + '0' + 0x03) & 0xFF;
    ASSERT_EQ(FirstReplyAt(matcher, {0x02, 1, 2, '1', '0', 0x03, sum}), 6);
    matcher.Clear();
    EXPECT_FALSE(matcher.IsValidReply());
}
