// The hidden message: the stored texts turned back into text.
#pragma once

#include <cstdint>
#include <string>

// Rotates each byte of a zero-terminated stored string right by three bits; the terminator
// ends the text and is not part of it. The stored string is not changed.
std::string UnrotateText(const std::uint8_t* stored);

// Every stored text of the null-terminated table, each followed by two line breaks.
std::string HiddenMessageText(const std::uint8_t* const* table);
