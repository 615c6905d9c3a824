#include "sha256.h"

#include <cstdio>

namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

}  // namespace

Sha256::Sha256()
    : m_state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::Update(std::span<const std::uint8_t> bytes) {
    m_messageBytes += bytes.size();
    for (const std::uint8_t byte : bytes) {
        m_block[m_blockFill++] = byte;
        if (m_blockFill == m_block.size()) {
            Compress(m_block.data());
            m_blockFill = 0;
        }
    }
}

Sha256::Digest Sha256::Finish() {
    const std::uint64_t bitLength = m_messageBytes * 8;
    // A one bit, zeros up to 56 bytes into a block, then the length in bits, big-endian.
    const std::uint8_t one = 0x80;
    Update({&one, 1});
    const std::uint8_t zero = 0;
    while (m_blockFill != 56) {
        Update({&zero, 1});
    }
    std::array<std::uint8_t, 8> length{};
    for (int i = 0; i < 8; ++i) {
        length[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bitLength >> (56 - 8 * i));
    }
    Update(length);
    Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        digest[i] = static_cast<std::uint8_t>(m_state[i / 4] >> (24 - 8 * (i % 4)));
    }
    return digest;
}

void Sha256::Compress(const std::uint8_t* block) {
    std::array<std::uint32_t, 64> w{};
    for (std::size_t t = 0; t < 16; ++t) {
        w[t] = static_cast<std::uint32_t>(block[4 * t]) << 24 |
               static_cast<std::uint32_t>(block[4 * t + 1]) << 16 |
               static_cast<std::uint32_t>(block[4 * t + 2]) << 8 | block[4 * t + 3];
    }
    for (std::size_t t = 16; t < 64; ++t) {
        const std::uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const std::uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = m_state;
    for (std::size_t t = 0; t < 64; ++t) {
        const std::uint32_t s1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
        const std::uint32_t choice = (e & f) ^ (~e & g);
        const std::uint32_t t1 = h + s1 + choice + kRoundConstants[t] + w[t];
        const std::uint32_t s0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
        const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const std::uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const std::array<std::uint32_t, 8> worked{a, b, c, d, e, f, g, h};
    for (std::size_t i = 0; i < m_state.size(); ++i) {
        m_state[i] += worked[i];
    }
}

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    Sha256 hash;
    hash.Update(bytes);
    std::string hex;
    for (const std::uint8_t byte : hash.Finish()) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}
