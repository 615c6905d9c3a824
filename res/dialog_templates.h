// Dialog templates 100, 102 and 6000, string 101 and the start-up warning: the layouts in
// dialog units and the texts the dialogs carry.
#pragma once

#include <span>

#include "resource.h"

namespace dialog_template {

// Controls that nobody addresses carry this id.
inline constexpr int IDC_STATIC = -1;

// The kinds of control the templates use.
enum class ControlKind {
    PushButton,         // a push button
    DefaultPushButton,  // the dialog's default push button
    DropDownList,       // a combo box without edit field, unsorted, vertical scroll bar
    LeftText,           // static text, left-aligned, wrapping at word boundaries
    RightText,          // static text, right-aligned
    CentredText,        // static text, centred
    Icon,               // static icon showing icon 128
    ProgressBar,        // a smooth progress bar with a border
};

// One control of a template; position and size in dialog units.
struct ControlTemplate {
    int id;
    ControlKind kind;
    int x, y, cx, cy;
    const char* text;
    bool visible;
    bool enabled;
};

// One dialog: its client size in dialog units, its caption and its controls in tab order.
struct DialogTemplate {
    int cx, cy;
    const char* caption;
    std::span<const ControlTemplate> controls;
};

using enum ControlKind;

// Main dialog texts.
inline constexpr const char* kStep1Text =
    "Connect the TR-520/521 to the PC, using the Quillcraft USB-Scanner Programming Cable. "
    "Then, while holding down the PGM key, turn the scanner ON. The scanner will enter its "
    "\"CPU SW Upgrade\" mode.";
inline constexpr const char* kStep2Text =
    "In the list at the right, select the COM port which Windows assigned to the USB cable. "
    "You can obtain the COM port from Device Manager, in Control Panel";
inline constexpr const char* kStep3Text =
    "Click the 'TEST' button to the right. This will test the connection to the scanner.";
inline constexpr const char* kStep4Text =
    "Click the 'UPDATE' button to the right. This will update the TR-520/521 CPU firmware to "
    "version ";
inline constexpr const char* kCompletionText =
    "Operation complete. You may exit this utility by clicking the 'EXIT' button.\nYou can "
    "check the new version number by pressing '3' while the scanner's power-up Welcome Message "
    "is displayed.";

inline constexpr ControlTemplate kMainControls[] = {
    {IDC_EXIT, DefaultPushButton, 261, 179, 65, 14, "EXIT", true, true},
    {IDC_COMPORT, DropDownList, 261, 82, 65, 155, "", true, true},
    {IDC_STATIC, LeftText, 32, 34, 220, 41, kStep1Text, true, true},
    {IDC_STATIC, RightText, 7, 34, 21, 30, "1.", true, true},
    {IDC_STATIC, LeftText, 32, 82, 220, 30, kStep2Text, true, true},
    {IDC_STATIC, RightText, 7, 82, 21, 30, "2.", true, true},
    {IDC_STATIC, LeftText, 32, 112, 220, 30, kStep3Text, true, true},
    {IDC_STATIC, RightText, 7, 112, 21, 30, "3.", true, true},
    {IDC_TEST, PushButton, 261, 112, 65, 14, "TEST", true, true},
    {IDC_STEP4, LeftText, 32, 150, 220, 30, kStep4Text, true, true},
    {IDC_STATIC, RightText, 7, 150, 21, 30, "4.", true, true},
    {IDC_UPDATE, PushButton, 261, 150, 65, 14, "UPDATE", true, false},
    {IDC_COMPLETE, LeftText, 32, 179, 220, 51, kCompletionText, false, true},
    {IDC_VERSION, CentredText, 7, 6, 329, 24, "UPDATER VERSION: 00.00", true, true},
};

// Template 102: the main dialog.
inline constexpr DialogTemplate kMainDialog{343, 236, "TR-520/521 CPU Update Utility",
                                            kMainControls};

inline constexpr ControlTemplate kAboutControls[] = {
    {IDC_STATIC, Icon, 11, 17, 20, 20, "", true, true},
    {IDC_ABOUT_VERSION, LeftText, 40, 12, 152, 8, "TR-520/521 CPU Update Utility", true, true},
    {IDC_STATIC, LeftText, 40, 27, 152, 8, "Copyright (C) 2026", true, true},
    {IDOK, DefaultPushButton, 202, 7, 50, 14, "OK", true, true},
};

// Template 100: the About box.
inline constexpr DialogTemplate kAboutDialog{259, 66, "About the TR-520/521 CPU Update Utility",
                                             kAboutControls};

inline constexpr ControlTemplate kProgressControls[] = {
    {IDC_PROGRESS, ProgressBar, 7, 7, 167, 14, "Progress1", true, true},
};

// Template 6000: the progress window; the upload sets its caption.
inline constexpr DialogTemplate kProgressDialog{181, 28, "", kProgressControls};

// String 101: the About item of the system menu (the ampersand marks the mnemonic).
inline constexpr const char* kAboutMenuText = "&About the TRX-521 CPU Update Utility...";

// The start-up warning, shown with style 324.
inline constexpr const char* kStartupWarning =
    "IMPORTANT!!!\n\nBefore attempting to use this utility, please ensure that you can transfer "
    "data\nbetween the TR-520/521 and your PC, using the Quillcraft USB cable. A good test "
    "would\nbe to acquire one of the data-management programs available, and perform a "
    "few\nupload and download operations between such a program and your scanner.\n\nThe "
    "steps described in this utility are written with the presumption that you\nalready have "
    "the Quillcraft USB-Scanner Programming cable and are familiar with using\nthat cable to "
    "connect your TR-520/521 to your computer.\n\nPlease be assured that you cannot 'destroy' "
    "your radio with this utility - if an\nupdate operation fails, the scanner's 'Boot' code "
    "will clean up and prompt you\nfor a CPU load until the operation is successful.\n\nAre "
    "you ready to proceed with this update utility?";

// The program's file and product version (app/version_info.cpp holds the whole resource).
inline constexpr const char* kFileVersion = "0.1.1.0";

}  // namespace dialog_template
