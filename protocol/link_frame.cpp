#include "link_frame.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace scanlink {

std::uint8_t Checksum(const std::uint8_t* payload, std::size_t count) {
    std::uint8_t sum = ETX;  // unsigned 8-bit arithmetic wraps, which is the rule
    for (std::size_t i = 0; i < count; ++i) {
        sum = static_cast<std::uint8_t>(sum + payload[i]);
    }
    return sum;
}

std::array<char, 2> HexDigits(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

namespace {

// Closes a frame whose payload fills bytes[1 .. size-1]: ETX, then the checksum.
void FinishFrame(LinkFrame& frame) {
    const std::size_t payloadSize = frame.size - 1;
    const std::uint8_t checksum = Checksum(frame.bytes.data() + 1, payloadSize);
    frame.bytes[frame.size++] = ETX;
    frame.bytes[frame.size++] = checksum;
}

}  // namespace

void BuildStartPacket(LinkFrame& frame, std::uint32_t imageLength) {
    if (imageLength > kMaxImageLength) {
        throw std::out_of_range("image length does not fit the start packet's six digits");
    }
    char digits[7];
    std::snprintf(digits, sizeof digits, "%06X", static_cast<unsigned>(imageLength));
    frame.size = 0;
    frame.bytes[frame.size++] = STX;
    frame.bytes[frame.size++] = kStartKind;
    for (int i = 0; i < 6; ++i) {
        frame.bytes[frame.size++] = static_cast<std::uint8_t>(digits[i]);
    }
    FinishFrame(frame);
}

void BuildDataPacket(LinkFrame& frame, const std::uint8_t* image, std::size_t count) {
    if (count < 1 || count > kMaxDataBytes) {
        throw std::out_of_range("a data packet carries 1 to 120 image bytes");
    }
    frame.size = 0;
    frame.bytes[frame.size++] = STX;
    for (std::size_t i = 0; i < count; ++i) {
        const auto digits = HexDigits(image[i]);
        frame.bytes[frame.size++] = static_cast<std::uint8_t>(digits[0]);
        frame.bytes[frame.size++] = static_cast<std::uint8_t>(digits[1]);
    }
    FinishFrame(frame);
}

bool VersionReplyMatcher::Push(std::uint8_t received) {
    std::shift_left(m_window.begin(), m_window.end(), 1);
    m_window.back() = received;
    return IsValidReply();
}

bool VersionReplyMatcher::IsValidReply() const {
    return m_window[0] == STX && m_window[5] == ETX &&
           m_window[6] == Checksum(m_window.data() + 1, 4);
}

}  // namespace scanlink
