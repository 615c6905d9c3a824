// What the COM port list shows, read back from the window system: how much ink an entry's
// drawing leaves, and the texts of its tooltips.
#pragma once

#include <windows.h>

#include <string>

namespace wintest {

// The pixels that an entry of the owner-drawn combo leaves when its parent draws it, not
// highlighted, into a bitmap of the entry's size.
int EntryInk(HWND combo, int index);
// The pixels that text leaves in the combo's own font, placed as an entry's text.
int PlainTextInk(HWND combo, const std::string& text);

// The tooltips that the list made for owner's combo box: the one that names the selected
// entry of the closed list, and the one beside the opened list.
struct ListTips {
    HWND hover = nullptr;
    HWND tracked = nullptr;
};
ListTips FindListTips(HWND owner);
// The text a tooltip's first tool shows now (a callback tool is asked for it).
std::string TipText(HWND tip);
// Whether a tracking tooltip is on screen.
bool TipShown(HWND tip);

// Draws the opened list's entries now, as its next paint would.
void PaintOpenedList(HWND combo);

}  // namespace wintest
