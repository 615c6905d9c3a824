#include "printable_ansi_text.h"

#include <windows.h>

#include <optional>

#include "printable_text.h"

namespace {

// text from code page `from` in code page `to`, through UTF-16; none when a character is not
// valid in `from` or has no form in `to`.
std::optional<std::string> Recode(std::string_view text, UINT from, UINT to) {
    if (text.empty()) {
        return std::string();
    }
    const int size = static_cast<int>(text.size());
    const int wideSize = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), size,
                                             nullptr, 0);
    if (wideSize <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), wideSize);
    // UTF-8 takes every character and no substitute flag; another code page may lack one.
    BOOL substituted = FALSE;
    BOOL* substitutedFlag = to == CP_UTF8 ? nullptr : &substituted;
    const int outSize =
        WideCharToMultiByte(to, 0, wide.data(), wideSize, nullptr, 0, nullptr, substitutedFlag);
    if (outSize <= 0 || substituted) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(outSize), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideSize, out.data(), outSize, nullptr, nullptr);
    return out;
}

}  // namespace

std::string PrintableAnsiText(std::string_view text) {
    const std::optional<std::string> utf8 = Recode(text, CP_ACP, CP_UTF8);
    if (!utf8) {
        return PrintableText(text);
    }
    // What PrintableText adds is ASCII and what it keeps came from the code page: it goes back.
    return Recode(PrintableText(*utf8), CP_UTF8, CP_ACP).value_or(PrintableText(text));
}
