// The Windows constants the shared code names, with their published values, where no Windows
// headers exist.
#pragma once

#include <cstdint>

// Dialog results.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Message box styles, as the exchanges and the start-up ask for them.
inline constexpr unsigned MB_OK = 0x0000;
inline constexpr unsigned MB_YESNO = 0x0004;
inline constexpr unsigned MB_ICONQUESTION = 0x0020;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x0030;
inline constexpr unsigned MB_ICONINFORMATION = 0x0040;
inline constexpr unsigned MB_DEFBUTTON2 = 0x0100;

// Line-settings record fields.
inline constexpr unsigned DTR_CONTROL_DISABLE = 0;
inline constexpr unsigned DTR_CONTROL_ENABLE = 1;
inline constexpr unsigned RTS_CONTROL_DISABLE = 0;
inline constexpr unsigned RTS_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t TWOSTOPBITS = 2;

// Line-error bits as the error mask reports them.
inline constexpr std::uint32_t CE_RXOVER = 0x0001;    // the input queue overflowed
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;   // the receiver lost a character
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;  // parity error
inline constexpr std::uint32_t CE_FRAME = 0x0008;     // framing error
inline constexpr std::uint32_t CE_BREAK = 0x0010;     // break condition
