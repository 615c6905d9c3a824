#include "printable_text.h"

#include <cstdint>
#include <cstdio>

namespace {

// Code points that do something instead of showing a glyph.
bool ActsInsteadOfShowing(std::uint32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) ||
           codePoint == 0x2028 || codePoint == 0x2029 ||          // line, paragraph separator
           (codePoint >= 0x202A && codePoint <= 0x202E) ||        // bidirectional embeddings
           (codePoint >= 0x2066 && codePoint <= 0x2069) ||        // bidirectional isolates
           codePoint == 0x200E || codePoint == 0x200F ||          // direction marks
           codePoint == 0xFEFF;                                   // byte order mark
}

// The length of the valid UTF-8 sequence at text[at] and its code point; 0 when it is not one
// (a stray continuation byte, a truncated or overlong sequence, a surrogate, beyond U+10FFFF).
std::size_t DecodeUtf8(std::string_view text, std::size_t at, std::uint32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    std::uint32_t smallest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, smallest = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, smallest = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, smallest = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (codePoint < smallest || codePoint > 0x10FFFF || surrogate) {
        return 0;
    }
    return length;
}

void AppendEscaped(std::string& out, std::string_view bytes) {
    for (const char byte : bytes) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(byte));
        out += escaped;
    }
}

}  // namespace

std::string PrintableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t codePoint = 0;
        const std::size_t length = DecodeUtf8(text, at, codePoint);
        const std::size_t taken = length == 0 ? 1 : length;
        if (length == 0 || ActsInsteadOfShowing(codePoint)) {
            AppendEscaped(out, text.substr(at, taken));
        } else {
            out.append(text.substr(at, taken));
        }
        at += taken;
    }
    return out;
}
