#include "hidden_message.h"

std::string UnrotateText(const std::uint8_t* stored) {
    std::string text;
    for (const std::uint8_t* b = stored; *b != 0; ++b) {
        text.push_back(static_cast<char>(((*b >> 3) | (*b << 5)) & 0xFF));
    }
    return text;
}

std::string HiddenMessageText(const std::uint8_t* const* table) {
    std::string message;
    for (const std::uint8_t* const* entry = table; *entry != nullptr; ++entry) {
        message += UnrotateText(*entry);
        message += "\n\n";
    }
    return message;
}
