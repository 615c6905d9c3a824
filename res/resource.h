// Resource, command and control identifiers of the utility. Plain #defines, so that the
// resource compiler reads the same file as the code.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_UPDATER_DIALOG 102
#define IDD_PROGRESS 6000

// Other resources.
#define IDR_MAINFRAME 128    // the icon
#define IDR_ACCELERATOR 130  // Ctrl+Alt+Shift+F3
#define IDS_ABOUTBOX 101     // the About menu item's text

// Commands.
#define IDM_ABOUTBOX 0x0010        // system-menu command of the About item
#define ID_HIDDEN_MESSAGE 32771    // sent by accelerator table 130

// Controls that nobody addresses.
#define IDC_STATIC (-1)

// Controls of the main dialog.
#define IDC_EXIT 1         // the EXIT button sends IDOK
#define IDC_COMPORT 1000   // COM port drop-down list
#define IDC_TEST 1002
#define IDC_UPDATE 1003
#define IDC_COMPLETE 1004  // completion text, hidden until an upload succeeds
#define IDC_VERSION 1005   // status label at the top
#define IDC_STEP4 1006

// Controls of the About box and the progress window.
#define IDC_ABOUT_VERSION 1007
#define IDC_PROGRESS 6000

// The window system's own constants the code names (IDOK, MB_OK, ...).
#include "win_constants.h"
