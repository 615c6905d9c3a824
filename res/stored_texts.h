// The stored-text table behind the hidden message.
#pragma once

#include <cstdint>

// Four zero-terminated strings whose every byte is its text's byte rotated left by three bits,
// then a null pointer.
extern const std::uint8_t* const g_storedTexts[5];
