// Byte-level framing of the scanner link: packets, checksum and control bytes.
// Nothing here owns a port or keeps time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace scanlink {

// Control bytes; each travels alone, never framed.
inline constexpr std::uint8_t STX = 0x02;    // starts every frame
inline constexpr std::uint8_t ETX = 0x03;    // ends a frame's payload; counted in the checksum
inline constexpr std::uint8_t EOT = 0x04;    // verdict: the upgrade is accepted
inline constexpr std::uint8_t ENQ = 0x05;    // go-ahead after the start packet
inline constexpr std::uint8_t ACK = 0x06;    // packet accepted (scanner) / reply taken (utility)
inline constexpr std::uint8_t DLE = 0x10;    // keep-alive: the scanner is busy, keep waiting
inline constexpr std::uint8_t NAK = 0x15;    // packet refused: send it again
inline constexpr std::uint8_t CAN = 0x18;    // verdict: the upgrade is rejected
inline constexpr std::uint8_t READY = 'C';   // the scanner is in its upgrade mode
// A received 0x00 is never a control byte: waiting code treats it as nothing received.
inline constexpr std::uint8_t NOTHING = 0x00;

inline constexpr std::uint8_t kStartKind = 0xFA;          // first payload byte of the start packet
inline constexpr std::size_t kMaxDataBytes = 120;         // image bytes in a full data packet
inline constexpr std::size_t kStartPacketSize = 10;       // STX, kind, six digits, ETX, checksum
inline constexpr std::size_t kMaxDataPacketSize = 2 * kMaxDataBytes + 3;  // 243 bytes on the link
inline constexpr std::uint32_t kMaxImageLength = 0xFFFFFF; // six hex digits in the start packet
inline constexpr std::size_t kVersionReplySize = 7;       // STX, X, Y, D1, D2, ETX, checksum

// The data packets that carry imageLength image bytes: full ones, and a shorter last one.
constexpr std::uint32_t DataPacketCount(std::uint32_t imageLength) {
    return static_cast<std::uint32_t>((imageLength + kMaxDataBytes - 1) / kMaxDataBytes);
}

// The query: STX, 'V', ETX, checksum. Asks the scanner for its firmware version.
inline constexpr std::array<std::uint8_t, 4> kQueryPacket{0x02, 0x56, 0x03, 0x59};

// One packet as it goes on the link, built whole before it is written.
struct LinkFrame {
    static constexpr std::size_t kCapacity = kMaxDataPacketSize;  // the largest packet we send

    std::array<std::uint8_t, kCapacity> bytes{};
    std::size_t size = 0;  // bytes in use from the start of bytes

    // The first byte of the packet.
    const std::uint8_t* data() const { return bytes.data(); }
};

// (sum of the payload bytes + ETX) mod 256; STX is not summed.
std::uint8_t Checksum(const std::uint8_t* payload, std::size_t count);

// The two uppercase hex digits of a byte, high nibble first.
std::array<char, 2> HexDigits(std::uint8_t value);

// Builds the start packet announcing imageLength; throws std::out_of_range above kMaxImageLength.
void BuildStartPacket(LinkFrame& frame, std::uint32_t imageLength);

// Builds the data packet for count image bytes (1 to 120); throws std::out_of_range otherwise.
void BuildDataPacket(LinkFrame& frame, const std::uint8_t* image, std::size_t count);

// A seven-byte sliding window that finds the scanner's version reply in a byte stream.
class VersionReplyMatcher {
public:
    // Empties the window (all bytes 0x00), as at the start of a search.
    void Clear() { m_window.fill(0); }
    // Moves the window on by one received byte; returns whether it now holds a valid reply.
    bool Push(std::uint8_t received);
    // Whether the window holds a valid reply: STX first, ETX sixth, a matching checksum last.
    bool IsValidReply() const;
    // The version's high digit character of a valid reply.
    char D1() const { return static_cast<char>(m_window[3]); }
    // The version's low digit character of a valid reply.
    char D2() const { return static_cast<char>(m_window[4]); }

private:
    std::array<std::uint8_t, kVersionReplySize> m_window{};
};

}  // namespace scanlink
