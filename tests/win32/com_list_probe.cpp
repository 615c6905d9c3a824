#include "com_list_probe.h"

// Needs <windows.h> before it.
#include <commctrl.h>

#include <vector>

namespace wintest {

namespace {

constexpr int kInkWidth = 160;
constexpr int kTextIndent = 2;  // as the list places its texts

int EntryHeight(HWND combo) {
    return static_cast<int>(SendMessageA(combo, CB_GETITEMHEIGHT, 0, 0));
}

// A 32-bit bitmap of the entry's size in a memory DC, painted by draw, and its non-background
// pixels counted.
template <typename Draw>
int InkOf(HWND combo, Draw draw) {
    const int height = EntryHeight(combo);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kInkWidth;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT area{0, 0, kInkWidth, height};
    FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
    draw(dc, area);
    GdiFlush();
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    const DWORD background =
        (GetRValue(window) << 16) | (GetGValue(window) << 8) | GetBValue(window);
    int ink = 0;
    const auto* pixels = static_cast<const DWORD*>(bits);
    for (int i = 0; i < kInkWidth * height; ++i) {
        ink += (pixels[i] & 0xFFFFFF) != background ? 1 : 0;
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return ink;
}

BOOL CALLBACK CollectTip(HWND hwnd, LPARAM param) {
    auto* found = reinterpret_cast<std::pair<HWND, ListTips>*>(param);
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    if (lstrcmpiA(name, TOOLTIPS_CLASSA) != 0 || GetWindow(hwnd, GW_OWNER) != found->first) {
        return TRUE;
    }
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    if (SendMessageA(hwnd, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool))) {
        ((tool.uFlags & TTF_TRACK) != 0 ? found->second.tracked : found->second.hover) = hwnd;
    }
    return TRUE;
}

}  // namespace

int EntryInk(HWND combo, int index) {
    return InkOf(combo, [&](HDC dc, const RECT& area) {
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_COMBOBOX;
        item.CtlID = static_cast<UINT>(GetDlgCtrlID(combo));
        item.itemID = static_cast<UINT>(index);
        item.itemAction = ODA_DRAWENTIRE;
        item.hwndItem = combo;
        item.hDC = dc;
        item.rcItem = area;
        SendMessageA(GetParent(combo), WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
    });
}

int PlainTextInk(HWND combo, const std::string& text) {
    return InkOf(combo, [&](HDC dc, const RECT& area) {
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(combo, WM_GETFONT, 0, 0)));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        RECT place = area;
        place.left += kTextIndent;
        DrawTextA(dc, text.c_str(), -1, &place, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
        SelectObject(dc, old);
    });
}

ListTips FindListTips(HWND owner) {
    std::pair<HWND, ListTips> found{owner, {}};
    EnumThreadWindows(GetCurrentThreadId(), &CollectTip, reinterpret_cast<LPARAM>(&found));
    return found.second;
}

std::string TipText(HWND tip) {
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    if (!SendMessageA(tip, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool))) {
        return "(no tool)";
    }
    std::vector<char> text(1024);
    tool.lpszText = text.data();
    SendMessageA(tip, TTM_GETTEXTA, text.size(), reinterpret_cast<LPARAM>(&tool));
    return text.data();
}

bool TipShown(HWND tip) {
    return IsWindowVisible(tip) != FALSE;
}

void PaintOpenedList(HWND combo) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (GetComboBoxInfo(combo, &info) && info.hwndList != nullptr) {
        UpdateWindow(info.hwndList);
    }
    UpdateWindow(combo);
}

}  // namespace wintest
