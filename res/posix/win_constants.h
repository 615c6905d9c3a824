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

// Window, dialog and control styles, as the dialog layouts name them.
inline constexpr unsigned WS_POPUP = 0x80000000;
inline constexpr unsigned WS_CHILD = 0x40000000;
inline constexpr unsigned WS_VISIBLE = 0x10000000;
inline constexpr unsigned WS_DISABLED = 0x08000000;
inline constexpr unsigned WS_CAPTION = 0x00C00000;
inline constexpr unsigned WS_BORDER = 0x00800000;
inline constexpr unsigned WS_VSCROLL = 0x00200000;
inline constexpr unsigned WS_SYSMENU = 0x00080000;
inline constexpr unsigned WS_GROUP = 0x00020000;
inline constexpr unsigned WS_TABSTOP = 0x00010000;
inline constexpr unsigned WS_EX_APPWINDOW = 0x00040000;
inline constexpr unsigned DS_SETFONT = 0x0040;
inline constexpr unsigned DS_MODALFRAME = 0x0080;
inline constexpr unsigned BS_PUSHBUTTON = 0x0000;
inline constexpr unsigned BS_DEFPUSHBUTTON = 0x0001;
inline constexpr unsigned CBS_DROPDOWNLIST = 0x0003;
inline constexpr unsigned CBS_OWNERDRAWFIXED = 0x0010;
inline constexpr unsigned CBS_HASSTRINGS = 0x0200;
inline constexpr unsigned SS_LEFT = 0x0000;
inline constexpr unsigned SS_CENTER = 0x0001;
inline constexpr unsigned SS_RIGHT = 0x0002;
inline constexpr unsigned SS_ICON = 0x0003;
inline constexpr unsigned SS_NOPREFIX = 0x0080;
inline constexpr unsigned PBS_SMOOTH = 0x0001;
