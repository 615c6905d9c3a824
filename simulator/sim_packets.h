// The simulated scanner's reading of the utility's packets: the query and the start packet
// while it waits, the data packets during an upload, and the checks each must pass. Nothing
// here keeps time or owns the line: bytes come from a source that may run dry.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace scannersim {

using Ms = std::chrono::milliseconds;

// The link's bytes, written out here rather than borrowed from the utility, so that the
// simulator checks the utility against the link's definition and not against itself.
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kEot = 0x04;
inline constexpr std::uint8_t kEnq = 0x05;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kCan = 0x18;
inline constexpr std::uint8_t kReady = 'C';
inline constexpr std::uint8_t kQueryKind = 'V';
inline constexpr std::uint8_t kStartKind = 0xFA;
inline constexpr std::size_t kMaxDataDigits = 240;  // hex digits of 120 image bytes
inline constexpr Ms kByteGap{1000};                 // longest wait for the next byte of a packet
inline constexpr Ms kSilenceGap{50};                // a pause this long ends a run of stray bytes

// Where the packets are read from.
class IByteSource {
public:
    virtual ~IByteSource() = default;
    // The next byte, waiting up to wait for it; none when nothing came or the line is gone.
    virtual std::optional<std::uint8_t> Next(Ms wait) = 0;
};

// A frame that began with STX while the scanner waits for the utility.
struct ReadyFrame {
    enum class Kind {
        kQuery,    // the version query
        kStart,    // a sound start packet
        kRefused,  // anything else
    };
    Kind kind = Kind::kRefused;
    std::uint32_t length = 0;  // kStart: the image length it announces
    std::string problem;       // kRefused: why, for the summary
};

// Reads the rest of a frame whose STX has just been read: the kind byte, then as many bytes
// as a packet of that kind has, and no more.
ReadyFrame ReadReadyFrame(IByteSource& source);

// Reads one data frame from its STX to its checksum into frame. A first byte other than STX,
// or a frame with no ETX within the largest packet, takes every byte up to the next pause, so
// that the next frame starts afresh. False when no byte came within idle.
bool ReadDataFrame(IByteSource& source, Ms idle, std::vector<std::uint8_t>& frame);

// Why a data frame is refused, empty when it is sound; left is the image bytes still due.
std::string CheckDataFrame(const std::vector<std::uint8_t>& frame, std::size_t left);

// Appends the image bytes of a sound data frame.
void AppendImage(const std::vector<std::uint8_t>& frame, std::vector<std::uint8_t>& image);

// (sum of the payload bytes + ETX) mod 256.
std::uint8_t FrameChecksum(const std::vector<std::uint8_t>& payload);

// A byte as "0x3F", for messages.
std::string Hex(std::uint8_t b);

}  // namespace scannersim
