#include "sim_packets.h"

#include <algorithm>
#include <cstdio>

namespace scannersim {

namespace {

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;  // lowercase digits are not part of the link either
}

ReadyFrame Refused(std::string problem) {
    return {ReadyFrame::Kind::kRefused, 0, std::move(problem)};
}

ReadyFrame ReadQuery(IByteSource& source) {
    const auto etx = source.Next(kByteGap);
    const auto sum = source.Next(kByteGap);
    if (etx != kEtx || sum != static_cast<std::uint8_t>(kQueryKind + kEtx)) {
        return Refused("malformed query");
    }
    return {ReadyFrame::Kind::kQuery, 0, {}};
}

ReadyFrame ReadStartPacket(IByteSource& source) {
    std::vector<std::uint8_t> payload{kStartKind};
    std::uint32_t length = 0;
    bool digitsValid = true;
    for (int i = 0; i < 6; ++i) {
        const auto digit = source.Next(kByteGap);
        if (!digit) {
            return Refused("incomplete start packet");
        }
        payload.push_back(*digit);
        digitsValid = digitsValid && HexValue(*digit) >= 0;
        length = length * 16 + static_cast<std::uint32_t>(std::max(HexValue(*digit), 0));
    }
    const auto etx = source.Next(kByteGap);
    const auto sum = source.Next(kByteGap);
    if (!digitsValid || etx != kEtx || sum != FrameChecksum(payload)) {
        return Refused("start packet refused: " + std::string(!digitsValid  ? "length digits"
                                                               : etx != kEtx ? "no ETX"
                                                                             : "checksum"));
    }
    return {ReadyFrame::Kind::kStart, length, {}};
}

// Takes bytes until the line is quiet for a moment.
void SkipToSilence(IByteSource& source, std::vector<std::uint8_t>& frame) {
    while (const auto b = source.Next(kSilenceGap)) {
        frame.push_back(*b);
    }
}

}  // namespace

ReadyFrame ReadReadyFrame(IByteSource& source) {
    const auto kind = source.Next(kByteGap);
    if (!kind) {
        return Refused("incomplete packet after STX");
    }
    if (*kind == kQueryKind) {
        return ReadQuery(source);
    }
    if (*kind == kStartKind) {
        return ReadStartPacket(source);
    }
    return Refused("packet of unknown kind " + Hex(*kind));
}

bool ReadDataFrame(IByteSource& source, Ms idle, std::vector<std::uint8_t>& frame) {
    const auto first = source.Next(idle);
    if (!first) {
        return false;
    }
    frame.push_back(*first);
    if (*first != kStx) {
        // Whatever this is, it is not a packet; take what follows it as one failed frame.
        SkipToSilence(source, frame);
        return true;
    }
    while (frame.size() < kMaxDataDigits + 2) {
        const auto b = source.Next(kByteGap);
        if (!b) {
            return true;
        }
        frame.push_back(*b);
        if (*b == kEtx) {
            break;
        }
    }
    if (frame.back() != kEtx) {
        SkipToSilence(source, frame);
        return true;
    }
    if (const auto sum = source.Next(kByteGap)) {
        frame.push_back(*sum);
    }
    return true;
}

std::string CheckDataFrame(const std::vector<std::uint8_t>& frame, std::size_t left) {
    if (frame.empty() || frame.front() != kStx) {
        return "no STX";
    }
    if (frame.size() < 3 || frame[frame.size() - 2] != kEtx) {
        return frame.size() > kMaxDataDigits + 2 ? "more than 120 image bytes" : "no ETX";
    }
    const std::vector<std::uint8_t> digits(frame.begin() + 1, frame.end() - 2);
    // A frame that ran past the largest packet was read on to the next pause, and may end in
    // an ETX and a right checksum all the same.
    if (digits.size() > kMaxDataDigits) {
        return "more than 120 image bytes";
    }
    if (digits.empty() || digits.size() % 2 != 0) {
        return "odd or no hex digits";
    }
    for (std::uint8_t d : digits) {
        if (HexValue(d) < 0) {
            return "not an uppercase hex digit: " + Hex(d);
        }
    }
    if (frame.back() != FrameChecksum(digits)) {
        return "checksum";
    }
    if (digits.size() / 2 > left) {
        return "runs past the announced length";
    }
    return {};
}

void AppendImage(const std::vector<std::uint8_t>& frame, std::vector<std::uint8_t>& image) {
    for (std::size_t i = 1; i + 2 < frame.size(); i += 2) {
        image.push_back(
            static_cast<std::uint8_t>(HexValue(frame[i]) * 16 + HexValue(frame[i + 1])));
    }
}

std::uint8_t FrameChecksum(const std::vector<std::uint8_t>& payload) {
    unsigned sum = kEtx;
    for (std::uint8_t b : payload) {
        sum += b;
    }
    return static_cast<std::uint8_t>(sum);
}

std::string Hex(std::uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

}  // namespace scannersim
