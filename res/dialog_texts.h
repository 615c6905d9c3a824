// The texts that the dialog layouts, string 101 and the version resource carry. Plain
// #defines, so that the resource compiler and the code read the same strings.
#pragma once

#include "tr_version.h"  // TR_VERSION_TEXT, TR_VERSION_DOTTED, made from the project's version

// Main dialog, template 102.
#define TR_TEXT_MAIN_CAPTION "TR-520/521 CPU Update Utility"
#define TR_TEXT_STEP1 "Connect the TR-520/521 to the PC, using the Quillcraft USB-Scanner Programming Cable. Then, while holding down the PGM key, turn the scanner ON. The scanner will enter its \"CPU SW Upgrade\" mode."
#define TR_TEXT_STEP2 "In the list at the right, select the COM port which Windows assigned to the USB cable. You can obtain the COM port from Device Manager, in Control Panel"
#define TR_TEXT_STEP3 "Click the 'TEST' button to the right. This will test the connection to the scanner."
#define TR_TEXT_STEP4 "Click the 'UPDATE' button to the right. This will update the TR-520/521 CPU firmware to version "
#define TR_TEXT_COMPLETION "Operation complete. You may exit this utility by clicking the 'EXIT' button.\nYou can check the new version number by pressing '3' while the scanner's power-up Welcome Message is displayed."
#define TR_TEXT_VERSION_LABEL "UPDATER VERSION: 00.00"

// About box, template 100.
#define TR_TEXT_ABOUT_CAPTION "About the TR-520/521 CPU Update Utility"
#define TR_TEXT_ABOUT_PROGRAM "TR-520/521 CPU Update Utility"
#define TR_TEXT_COPYRIGHT "Copyright (C) 2026"

// String 101: the About item of the system menu (the ampersand marks the mnemonic).
#define TR_TEXT_ABOUT_MENU "&About the TRX-521 CPU Update Utility..."

// The version resource.
#define TR_VERSION_DESCRIPTION "TR-520/521 CPU Update Utility v1.10 for Boot Ver1.00"
#define TR_VERSION_COMPANY "The TR-520/521 CPU Update Utility developers"
