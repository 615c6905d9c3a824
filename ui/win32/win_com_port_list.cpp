#include "win_com_port_list.h"

// Needs <windows.h> before it.
#include <commctrl.h>

namespace {

constexpr int kTextIndent = 2;  // pixels before an entry's text, as the standard list has
constexpr int kTipGap = 2;      // pixels between the opened list and its tooltip
constexpr UINT_PTR kTrackedToolId = 1;

// A tool record of the size every common-controls version takes.
TOOLINFOA ToolInfo(HWND owner, UINT flags, UINT_PTR id) {
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = flags;
    tool.hwnd = owner;
    tool.uId = id;
    return tool;
}

HWND CreateTip(HWND owner) {
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE));
    return CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                           WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, instance, nullptr);
}

HFONT ControlFont(HWND control) {
    auto font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    return font != nullptr ? font : static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
}

std::string EntryText(HWND combo, int index) {
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, index, 0);
    if (length <= 0) {
        return "";
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// Gives the selection field (which -1) or the entries (0) a height, correcting once for a list
// that then reports another: wine's reports the field with two pixels more than it was given.
void SetItemHeight(HWND combo, WPARAM which, LRESULT height) {
    if (SendMessageA(combo, CB_GETITEMHEIGHT, which, 0) == height) {
        return;
    }
    SendMessageA(combo, CB_SETITEMHEIGHT, which, height);
    const LRESULT corrected = 2 * height - SendMessageA(combo, CB_GETITEMHEIGHT, which, 0);
    if (corrected != height && corrected > 0) {
        SendMessageA(combo, CB_SETITEMHEIGHT, which, corrected);
    }
}

HWND OpenedList(HWND combo) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    return GetComboBoxInfo(combo, &info) ? info.hwndList : nullptr;
}

}  // namespace

CComPortList::CComPortList(PortSource source) : m_source(std::move(source)) {}

// The tooltips belong to the combo box's parent and go with it.
CComPortList::~CComPortList() {
    if (m_bold != nullptr) {
        DeleteObject(m_bold);
    }
}

void CComPortList::Attach(HWND combo) {
    m_combo = combo;
    LOGFONTA face{};
    GetObjectA(ControlFont(combo), sizeof face, &face);
    face.lfWeight = FW_BOLD;
    if (m_bold != nullptr) {
        DeleteObject(m_bold);
    }
    m_bold = CreateFontIndirectA(&face);
    MatchStandardItemHeights();
    CreateTips();
    Refresh();
}

// An owner-drawn list asks its parent for its heights before the dialog can answer; it takes
// those of a standard list in the same font, so that it looks as the layout has it.
void CComPortList::MatchStandardItemHeights() {
    HWND parent = GetParent(m_combo);
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(m_combo, GWLP_HINSTANCE));
    HWND standard =
        CreateWindowExA(WS_EX_NOPARENTNOTIFY, "ComboBox", "", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 10,
                        100, parent, nullptr, instance, nullptr);
    if (standard == nullptr) {
        return;
    }
    SendMessageA(standard, WM_SETFONT, reinterpret_cast<WPARAM>(ControlFont(m_combo)), FALSE);
    const LRESULT field = SendMessageA(standard, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    const LRESULT entry = SendMessageA(standard, CB_GETITEMHEIGHT, 0, 0);
    DestroyWindow(standard);
    if (field > 0) {
        SetItemHeight(m_combo, static_cast<WPARAM>(-1), field);
    }
    if (entry > 0) {
        SetItemHeight(m_combo, 0, entry);
    }
}

void CComPortList::CreateTips() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    HWND parent = GetParent(m_combo);
    m_tip = CreateTip(parent);
    TOOLINFOA hover =
        ToolInfo(parent, TTF_IDISHWND | TTF_SUBCLASS, reinterpret_cast<UINT_PTR>(m_combo));
    hover.lpszText = LPSTR_TEXTCALLBACKA;
    SendMessageA(m_tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&hover));

    m_trackedTip = CreateTip(parent);
    TOOLINFOA tracked = ToolInfo(parent, TTF_TRACK | TTF_ABSOLUTE, kTrackedToolId);
    tracked.lpszText = m_trackedText.data();
    SendMessageA(m_trackedTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tracked));
}

void CComPortList::Refresh() {
    m_ports = m_source();
    m_trackedIndex = -1;  // the highlighted entry's tooltip takes the new text when redrawn
    InvalidateRect(m_combo, nullptr, TRUE);
    if (HWND list = OpenedList(m_combo); list != nullptr) {
        InvalidateRect(list, nullptr, TRUE);
    }
}

bool CComPortList::OnNotify(int notifyCode) {
    switch (notifyCode) {
        case CBN_DROPDOWN:
            SendMessageA(m_tip, TTM_POP, 0, 0);
            Refresh();
            return true;
        case CBN_CLOSEUP:
            HideTrackedTip();
            return true;
        default:
            return false;
    }
}

bool CComPortList::OnParentMessage(UINT message, WPARAM /*wParam*/, LPARAM lParam,
                                   INT_PTR& result) {
    if (m_combo == nullptr) {
        return false;
    }
    if (message == WM_DRAWITEM) {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_COMBOBOX || item->hwndItem != m_combo) {
            return false;
        }
        Draw(*item);
        result = TRUE;
        return true;
    }
    if (message == WM_NOTIFY) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom != m_tip || header->code != TTN_GETDISPINFOA) {
            return false;
        }
        Refresh();  // a cable plugged in since the list was last opened
        m_tipText = Description(static_cast<int>(SendMessageA(m_combo, CB_GETCURSEL, 0, 0)));
        reinterpret_cast<NMTTDISPINFOA*>(header)->lpszText = m_tipText.data();
        result = 0;
        return true;
    }
    return false;
}

void CComPortList::Draw(const DRAWITEMSTRUCT& item) {
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool highlighted = (item.itemState & ODS_SELECTED) != 0 && !disabled;
    HDC dc = item.hDC;
    RECT area = item.rcItem;
    FillRect(dc, &area, GetSysColorBrush(highlighted ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    const int index = static_cast<int>(item.itemID);
    if (index >= 0) {
        const HGDIOBJ old = SelectObject(dc, Present(index) ? m_bold : ControlFont(m_combo));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(disabled      ? COLOR_GRAYTEXT
                                     : highlighted ? COLOR_HIGHLIGHTTEXT
                                                   : COLOR_WINDOWTEXT));
        RECT text = area;
        text.left += kTextIndent;
        DrawTextA(dc, EntryText(m_combo, index).c_str(), -1, &text,
                  DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
        SelectObject(dc, old);
    }
    if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
        DrawFocusRect(dc, &area);
    }
    const bool inOpenedList = (item.itemState & ODS_COMBOBOXEDIT) == 0 &&
                              SendMessageA(m_combo, CB_GETDROPPEDSTATE, 0, 0) != 0;
    if (inOpenedList && highlighted && index >= 0) {
        TrackHighlighted(index, area);
    }
}

// The tooltip stands beside the opened list at the highlighted entry's height, on the side
// where the screen has room for it.
void CComPortList::TrackHighlighted(int index, const RECT& itemRect) {
    if (index == m_trackedIndex) {
        return;
    }
    HWND list = OpenedList(m_combo);
    if (list == nullptr) {
        return;
    }
    m_trackedIndex = index;
    m_trackedText = Description(index);
    TOOLINFOA tool = ToolInfo(GetParent(m_combo), TTF_TRACK | TTF_ABSOLUTE, kTrackedToolId);
    tool.lpszText = m_trackedText.data();
    SendMessageA(m_trackedTip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));

    RECT listRect;
    GetWindowRect(list, &listRect);
    POINT at{0, itemRect.top};
    MapWindowPoints(list, nullptr, &at, 1);
    const LRESULT size =
        SendMessageA(m_trackedTip, TTM_GETBUBBLESIZE, 0, reinterpret_cast<LPARAM>(&tool));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(list, MONITOR_DEFAULTTONEAREST), &monitor);
    int x = listRect.right + kTipGap;
    if (x + LOWORD(size) > monitor.rcWork.right) {
        x = listRect.left - kTipGap - LOWORD(size);
    }
    SendMessageA(m_trackedTip, TTM_TRACKPOSITION, 0, MAKELPARAM(x, at.y));
    SendMessageA(m_trackedTip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
}

void CComPortList::HideTrackedTip() {
    TOOLINFOA tool = ToolInfo(GetParent(m_combo), TTF_TRACK | TTF_ABSOLUTE, kTrackedToolId);
    SendMessageA(m_trackedTip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
    m_trackedIndex = -1;
}

bool CComPortList::Present(int index) const {
    return index >= 0 && index < static_cast<int>(m_ports.size()) &&
           m_ports[static_cast<std::size_t>(index)].present;
}

std::string CComPortList::Description(int index) const {
    if (index < 0 || index >= static_cast<int>(m_ports.size())) {
        return "";
    }
    return m_ports[static_cast<std::size_t>(index)].description;
}
