// SHA-256 (FIPS 180-4), so that `info` can name the carried image by a digest that anyone can
// compare with sha256sum's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// An incremental SHA-256: feed the message in pieces of any size, then take the digest once.
class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    // Appends bytes to the message.
    void Update(std::span<const std::uint8_t> bytes);
    // Pads the message and returns its digest; the object is spent afterwards.
    Digest Finish();

private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_block{};
    std::size_t m_blockFill = 0;
    std::uint64_t m_messageBytes = 0;
};

// The digest of bytes as 64 lower-case hex digits, as sha256sum prints it.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);
