// Dialog templates 100, 102 and 6000, string 101 and the start-up warning: the layouts in
// dialog units and the texts the dialogs carry.
#pragma once

#include <span>

#include "dialog_texts.h"
#include "resource.h"

namespace dialog_template {

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

// One control of a template; position and size in dialog units. visible and enabled follow
// from the style's WS_VISIBLE and WS_DISABLED.
struct ControlTemplate {
    int id;
    ControlKind kind;
    int x, y, cx, cy;
    const char* text;
    bool visible;
    bool enabled;
    unsigned style;
    const char* windowClass;
};

// One dialog: its position and size in dialog units, caption, styles, font and its controls in
// tab order.
struct DialogTemplate {
    int cx, cy;
    const char* caption;
    std::span<const ControlTemplate> controls;
    int resourceId;
    int x, y;
    unsigned style;
    unsigned exStyle;
    int pointSize;
    const char* fontFace;
};

using enum ControlKind;

// Main dialog texts.
inline constexpr const char* kStep1Text = TR_TEXT_STEP1;
inline constexpr const char* kStep2Text = TR_TEXT_STEP2;
inline constexpr const char* kStep3Text = TR_TEXT_STEP3;
inline constexpr const char* kStep4Text = TR_TEXT_STEP4;
inline constexpr const char* kCompletionText = TR_TEXT_COMPLETION;

// clang-format off
// The control tables kMainDialogControls, kAboutDialogControls and kProgressDialogControls.
#define TR_DIALOG(name, resId, x, y, cx, cy, style, exStyle, caption, points, face) \
    inline constexpr ControlTemplate name##Controls[] = {
#define TR_CONTROL(dialog, id, kind, windowClass, x, y, cx, cy, style, text)              \
    {id,   kind, x, y, cx, cy, text, ((style) & WS_VISIBLE) != 0, ((style) & WS_DISABLED) == 0, \
     (style), windowClass},
#define TR_DIALOG_END(name) };
#include "dialog_layouts.inc"
#undef TR_DIALOG
#undef TR_CONTROL
#undef TR_DIALOG_END

// Templates 102 (kMainDialog), 100 (kAboutDialog) and 6000 (kProgressDialog; the upload sets
// its caption).
#define TR_DIALOG(name, resId, x, y, cx, cy, style, exStyle, caption, points, face)       \
    inline constexpr DialogTemplate name{cx,    cy,      caption, name##Controls, resId, x, y, \
                                         style, exStyle, points,  face};
#define TR_CONTROL(dialog, id, kind, windowClass, x, y, cx, cy, style, text)
#define TR_DIALOG_END(name)
#include "dialog_layouts.inc"
#undef TR_DIALOG
#undef TR_CONTROL
#undef TR_DIALOG_END
// clang-format on

// String 101: the About item of the system menu (the ampersand marks the mnemonic).
inline constexpr const char* kAboutMenuText = TR_TEXT_ABOUT_MENU;

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
inline constexpr const char* kFileVersion = TR_VERSION_DOTTED;

}  // namespace dialog_template
