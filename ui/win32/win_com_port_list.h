// The COM port list's device marks on Windows, as the Linux list has them: the entries whose
// port is present are drawn in bold, and a tooltip names the device, of the selected entry on
// the closed list and of the highlighted entry beside the opened one. The ports are looked at
// again each time the list opens and each time the closed list's tooltip shows. The entries'
// texts, order and selection stay as the dialog made them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "com_port_devices.h"

class CComPortList {
public:
    // Where the ports are looked up: one call, one look at the system.
    using PortSource = std::function<std::vector<comports::ComPortInfo>()>;

    // A list that looks at the ports through source; the system's own listing by default.
    explicit CComPortList(PortSource source = comports::DescribeComPorts);
    // Frees the bold font; the tooltips go with the combo box's parent.
    ~CComPortList();
    CComPortList(const CComPortList&) = delete;
    CComPortList& operator=(const CComPortList&) = delete;

    // Takes over a filled combo box (owner-drawn with strings, entry i is COM i+1): its item
    // heights, its tooltips and the first look at the ports.
    void Attach(HWND combo);
    // Looks at the ports again and redraws the marks.
    void Refresh();
    // A notification of the combo box (CBN_...); true when it is one the list acts on.
    bool OnNotify(int notifyCode);
    // A message of the combo box's parent that concerns the list (its drawing, its tooltip's
    // text); true when handled, with result the dialog procedure's answer.
    bool OnParentMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

private:
    void MatchStandardItemHeights();
    void CreateTips();
    void Draw(const DRAWITEMSTRUCT& item);
    void TrackHighlighted(int index, const RECT& itemRect);
    void HideTrackedTip();
    bool Present(int index) const;
    std::string Description(int index) const;

    PortSource m_source;
    std::vector<comports::ComPortInfo> m_ports;
    HWND m_combo = nullptr;
    HWND m_tip = nullptr;         // the closed list's tooltip: the selected entry
    HWND m_trackedTip = nullptr;  // beside the opened list: the highlighted entry
    HFONT m_bold = nullptr;
    std::string m_tipText;  // the text the closed list's tooltip shows now
    std::string m_trackedText;
    int m_trackedIndex = -1;
};
