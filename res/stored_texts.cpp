#include "stored_texts.h"

#include <cstddef>

namespace {

// The rotated form of a text, made at compile time so that the plain text never reaches the
// program file.
template <std::size_t N>
struct RotatedText {
    std::uint8_t bytes[N];
};

template <std::size_t N>
consteval RotatedText<N> Rotate(const char (&text)[N]) {
    RotatedText<N> stored{};
    for (std::size_t i = 0; i + 1 < N; ++i) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        stored.bytes[i] = static_cast<std::uint8_t>((b << 3) | (b >> 5));
    }
    stored.bytes[N - 1] = 0;
    return stored;
}

constexpr auto kText1 = Rotate("TR-520/521 CPU Update Utility, for Boot Ver1.00.");
constexpr auto kText2 = Rotate("Written for everyone who keeps a scanner listening.");
constexpr auto kText3 = Rotate("Thanks to the testers: not one radio was harmed.");
constexpr auto kText4 = Rotate("73, and good listening!");

}  // namespace

const std::uint8_t* const g_storedTexts[5] = {kText1.bytes, kText2.bytes, kText3.bytes,
                                              kText4.bytes, nullptr};
