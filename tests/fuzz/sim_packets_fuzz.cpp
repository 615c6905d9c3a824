// Fuzz target: the simulated scanner's packet reader.
//
// Input: a mode byte (bit 0 clear: the frames the scanner reads while it waits; set: data
// frames during an upload; bit 1: the utility gets its checksums right, the byte after each
// ETX being replaced by the checksum of the bytes since the STX before it, so that the fuzzer
// can explore what sound frames carry), two bytes of the image bytes still due (big-endian),
// then the bytes that arrive, read until they run out as the simulator reads them: frames
// while it waits begin at an STX, data frames at whatever comes first.
//
// Each run checks, against the rules as written here: a query is taken only as STX 56 03 59 and
// a start packet only as STX FA, six uppercase hex digits, ETX and the right checksum, with the
// length those digits say; the reader takes no byte beyond a packet of the kind it read; a data
// frame is accepted exactly when it is STX, 2 to 240 uppercase hex digits, ETX and the right
// checksum, carrying no more image bytes than are due, and decodes to the bytes its digits
// say; a frame that begins with STX and holds an ETX within the largest packet ends at the
// checksum after it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sim_packets.h"

namespace {

using fuzz::Bytes;
using fuzz::Check;

constexpr std::uint8_t kStx = 0x02, kEtx = 0x03;
constexpr std::size_t kMaxDigits = 240;  // 120 image bytes

// The arriving bytes; when they run out, nothing more comes.
class InputSource : public scannersim::IByteSource {
public:
    explicit InputSource(Bytes bytes) : m_bytes(std::move(bytes)) {}
    std::optional<std::uint8_t> Next(scannersim::Ms) override {
        if (m_at == m_bytes.size()) {
            return std::nullopt;
        }
        return m_bytes[m_at++];
    }
    std::size_t At() const { return m_at; }
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
    std::size_t m_at = 0;
};

std::uint8_t Sum(const Bytes& bytes, std::size_t from, std::size_t to) {
    unsigned sum = kEtx;
    for (std::size_t i = from; i < to; ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(sum);
}

int UpperHexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte at i, if it arrived.
std::optional<std::uint8_t> At(const Bytes& bytes, std::size_t i) {
    return i < bytes.size() ? std::optional<std::uint8_t>(bytes[i]) : std::nullopt;
}

// One frame read while waiting, whose STX was at stx.
void CheckReadyFrame(InputSource& source, std::size_t stx) {
    const Bytes& in = source.bytes();
    const scannersim::ReadyFrame frame = scannersim::ReadReadyFrame(source);
    const auto kind = At(in, stx + 1);
    std::size_t size = 2;  // STX and the kind
    bool query = false;
    bool start = false;
    std::uint32_t length = 0;
    if (kind == 0x56) {
        size = 4;
        query = At(in, stx + 2) == kEtx && At(in, stx + 3) == 0x59;
    } else if (kind == 0xFA) {
        size = 10;
        start = stx + size <= in.size() && in[stx + 8] == kEtx &&
                in[stx + 9] == Sum(in, stx + 1, stx + 8);
        for (std::size_t i = stx + 2; start && i < stx + 8; ++i) {
            const int digit = UpperHexDigit(in[i]);
            start = digit >= 0;
            length = length * 16 + static_cast<std::uint32_t>(digit);
        }
    }
    Check(source.At() <= stx + size, "the reader took bytes beyond the packet");
    Check(source.At() == std::min(stx + size, in.size()), "the reader stopped inside a packet");
    Check((frame.kind == scannersim::ReadyFrame::Kind::kQuery) == query,
          query ? "a query was refused" : "a malformed query was taken");
    Check((frame.kind == scannersim::ReadyFrame::Kind::kStart) == start,
          start ? "a start packet was refused" : "a malformed start packet was taken");
    Check(!start || frame.length == length, "the start packet's length was misread");
    Check(frame.kind != scannersim::ReadyFrame::Kind::kRefused || !frame.problem.empty(),
          "a frame was refused without a reason");
}

// Whether a data frame is sound by the rules, with its image bytes.
bool SoundDataFrame(const Bytes& frame, std::size_t due, Bytes& image) {
    const std::size_t size = frame.size();
    if (size < 5 || size % 2 == 0 || size - 3 > kMaxDigits || frame[0] != kStx ||
        frame[size - 2] != kEtx || frame[size - 1] != Sum(frame, 1, size - 2)) {
        return false;
    }
    image.clear();
    for (std::size_t i = 1; i + 2 < size; i += 2) {
        const int high = UpperHexDigit(frame[i]);
        const int low = UpperHexDigit(frame[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        image.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return image.size() <= due;
}

// One data frame read during an upload with due image bytes still due; returns the image
// bytes it accepted.
std::size_t CheckDataFrame(InputSource& source, std::size_t due) {
    const Bytes& in = source.bytes();
    const std::size_t begin = source.At();
    Bytes frame;
    Check(scannersim::ReadDataFrame(source, scannersim::Ms(3000), frame),
          "no frame read from bytes that had arrived");
    Check(frame.size() == source.At() - begin &&
              std::equal(frame.begin(), frame.end(), in.begin() + static_cast<std::ptrdiff_t>(begin)),
          "the frame is not the bytes read");
    if (frame.front() == kStx) {
        // The first ETX within the largest packet ends the frame, one checksum byte later.
        for (std::size_t i = 1; i < frame.size() && i <= kMaxDigits + 1; ++i) {
            if (frame[i] == kEtx) {
                Check(frame.size() == std::min(i + 2, in.size() - begin),
                      "the frame does not end at the checksum after its ETX");
                break;
            }
        }
    }
    Bytes expected;
    const bool sound = SoundDataFrame(frame, due, expected);
    const std::string fault = scannersim::CheckDataFrame(frame, due);
    Check(fault.empty() == sound,
          sound ? "a sound data frame was refused: " + fault
                : "a data frame the rules refuse was accepted");
    if (!sound) {
        return 0;
    }
    Bytes image{0x5A};  // what came before stays
    scannersim::AppendImage(frame, image);
    expected.insert(expected.begin(), 0x5A);
    Check(image == expected, "a data frame's image bytes were misread");
    return expected.size() - 1;
}

// The bytes with the checksum after each ETX made right.
Bytes WithRightChecksums(Bytes bytes) {
    std::size_t stx = bytes.size();
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == kStx) {
            stx = i;
        } else if (bytes[i] == kEtx && stx < i) {
            bytes[i + 1] = Sum(bytes, stx + 1, i);
            stx = bytes.size();
            ++i;
        }
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const std::uint8_t mode = input.Byte();
    const bool upload = (mode & 1) != 0;
    const std::size_t dueHigh = input.Byte();
    const std::size_t due = dueHigh << 8 | input.Byte();
    InputSource source((mode & 2) != 0 ? WithRightChecksums(input.Rest()) : input.Rest());
    if (!upload) {
        while (const auto b = source.Next(scannersim::Ms(30))) {
            if (*b == kStx) {
                CheckReadyFrame(source, source.At() - 1);
            }
        }
        return 0;
    }
    for (std::size_t left = due; source.At() < source.bytes().size();) {
        left -= CheckDataFrame(source, left);
    }
    return 0;
}
