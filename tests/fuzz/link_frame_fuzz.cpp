// Fuzz target: the link framing.
//
// The whole input is a received byte stream: the version reply matcher is fed it byte by byte
// and must agree after every byte with the window of the rules, kept here. The input's first
// byte is also a data packet's image byte count (a packet carries 1 to 120; others must be
// refused) and the bytes after it, repeated as needed, its image bytes: the packet built must
// decode, by the rules, to exactly those bytes. Its first four bytes are an image length: the
// start packet built must carry it as six uppercase hex digits, or be refused above 0xFFFFFF.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "fuzz_support.h"
#include "link_frame.h"

namespace {

using fuzz::Bytes;
using fuzz::Check;

constexpr std::uint8_t kStx = 0x02, kEtx = 0x03, kStartKind = 0xFA;
constexpr std::size_t kMaxImageBytes = 120;

std::uint8_t Sum(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = kEtx;
    for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(sum);
}

int UpperHexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Checks a frame of the rules around hex digits and returns the bytes they stand for.
Bytes DecodeHexFrame(const scanlink::LinkFrame& frame, std::size_t digitsFrom) {
    const std::size_t size = frame.size;
    Check(size >= digitsFrom + 2 && size <= frame.bytes.size(), "a frame of impossible size");
    Check(frame.bytes[0] == kStx, "a frame without STX");
    Check(frame.bytes[size - 2] == kEtx, "a frame without ETX before its checksum");
    Check(frame.bytes[size - 1] == Sum(frame.bytes.data() + 1, size - 3),
          "a frame with a wrong checksum");
    Check((size - 2 - digitsFrom) % 2 == 0, "an odd number of hex digits");
    Bytes decoded;
    for (std::size_t i = digitsFrom; i + 2 < size; i += 2) {
        const int high = UpperHexDigit(frame.bytes[i]);
        const int low = UpperHexDigit(frame.bytes[i + 1]);
        Check(high >= 0 && low >= 0, "a character that is no uppercase hex digit");
        decoded.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return decoded;
}

void CheckMatcher(const Bytes& stream) {
    scanlink::VersionReplyMatcher matcher;
    matcher.Clear();
    std::array<std::uint8_t, 7> w{};
    for (const std::uint8_t b : stream) {
        for (std::size_t i = 0; i + 1 < w.size(); ++i) w[i] = w[i + 1];
        w[6] = b;
        const bool valid = w[0] == kStx && w[5] == kEtx && w[6] == Sum(w.data() + 1, 4);
        Check(matcher.Push(b) == valid, "the reply matcher disagrees with the rules' window");
        Check(matcher.IsValidReply() == valid, "the matcher's test changed after the push");
        if (valid) {
            Check(static_cast<std::uint8_t>(matcher.D1()) == w[3] &&
                      static_cast<std::uint8_t>(matcher.D2()) == w[4],
                  "the matcher gave other version digits than the reply's");
        }
    }
}

void CheckDataPacket(const Bytes& input) {
    const std::size_t count = input.empty() ? 0 : input[0];
    Bytes image;
    for (std::size_t i = 0; i < count; ++i) {
        image.push_back(input.size() > 1 ? input[1 + i % (input.size() - 1)]
                                         : static_cast<std::uint8_t>(i));
    }
    scanlink::LinkFrame frame;
    const bool carried = count >= 1 && count <= kMaxImageBytes;
    try {
        scanlink::BuildDataPacket(frame, image.data(), count);
    } catch (const std::out_of_range&) {
        Check(!carried, "a data packet of 1 to 120 image bytes was refused");
        return;
    }
    Check(carried, "a data packet of " + std::to_string(count) + " image bytes was built");
    Check(frame.size == 2 * count + 3, "a data packet is not 2n + 3 bytes long");
    Check(DecodeHexFrame(frame, 1) == image, "a data packet does not decode to its image bytes");
}

void CheckStartPacket(const Bytes& input) {
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        length = length << 8 | (i < input.size() ? input[i] : 0);
    }
    scanlink::LinkFrame frame;
    try {
        scanlink::BuildStartPacket(frame, length);
    } catch (const std::out_of_range&) {
        Check(length > 0xFFFFFF, "a start packet for a length of six hex digits was refused");
        return;
    }
    Check(length <= 0xFFFFFF, "a start packet for a length beyond six hex digits was built");
    Check(frame.size == 10 && frame.bytes[1] == kStartKind, "the start packet's layout is wrong");
    const Bytes digits = DecodeHexFrame(frame, 2);
    Check(digits.size() == 3 &&
              (std::uint32_t{digits[0]} << 16 | std::uint32_t{digits[1]} << 8 | digits[2]) ==
                  length,
          "the start packet does not carry the length");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes input(data, data + size);
    CheckMatcher(input);
    CheckDataPacket(input);
    CheckStartPacket(input);
    return 0;
}
