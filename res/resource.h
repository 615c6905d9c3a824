// Resource, command and control identifiers of the utility.
#pragma once

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_UPDATER_DIALOG = 102;
inline constexpr int IDD_PROGRESS = 6000;

// Other resources.
inline constexpr int IDR_MAINFRAME = 128;   // the icon
inline constexpr int IDR_ACCELERATOR = 130; // Ctrl+Alt+Shift+F3
inline constexpr int IDS_ABOUTBOX = 101;    // the About menu item's text

// Commands.
inline constexpr int IDM_ABOUTBOX = 0x0010;         // system-menu command of the About item
inline constexpr int ID_HIDDEN_MESSAGE = 32771;     // sent by accelerator table 130
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Controls of the main dialog.
inline constexpr int IDC_EXIT = IDOK;
inline constexpr int IDC_COMPORT = 1000;    // COM port drop-down list
inline constexpr int IDC_TEST = 1002;
inline constexpr int IDC_UPDATE = 1003;
inline constexpr int IDC_COMPLETE = 1004;   // completion text, hidden until an upload succeeds
inline constexpr int IDC_VERSION = 1005;    // status label at the top
inline constexpr int IDC_STEP4 = 1006;

// Controls of the About box and the progress window.
inline constexpr int IDC_ABOUT_VERSION = 1007;
inline constexpr int IDC_PROGRESS = 6000;

// Message box styles, as the exchanges and the start-up ask for them.
inline constexpr unsigned MB_OK = 0x0000;
inline constexpr unsigned MB_YESNO = 0x0004;
inline constexpr unsigned MB_ICONQUESTION = 0x0020;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x0030;
inline constexpr unsigned MB_ICONINFORMATION = 0x0040;
inline constexpr unsigned MB_DEFBUTTON2 = 0x0100;
