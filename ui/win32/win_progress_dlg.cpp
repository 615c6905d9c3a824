#include "win_progress_dlg.h"

#include <commctrl.h>

#include "resource.h"

POINT CentredPosition(const RECT& parent, const RECT& self) {
    return POINT{(parent.left + parent.right) / 2 - (self.right - self.left) / 2,
                 (parent.top + parent.bottom) / 2 - (self.bottom - self.top) / 2};
}

CProgressDlg::CProgressDlg(HWND parent) : CDialog(IDD_PROGRESS, parent) {
    Create();
    if (m_hWnd == nullptr) {
        return;
    }
    m_progress = GetDlgItem(IDC_PROGRESS);
    RECT parentRect{};
    RECT selfRect{};
    GetWindowRect(parent, &parentRect);
    GetWindowRect(m_hWnd, &selfRect);
    const POINT at = CentredPosition(parentRect, selfRect);
    SetWindowPos(m_hWnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
    ShowWindow(m_hWnd, SW_SHOW);
}

void CProgressDlg::SetRange32(int low, int high) {
    if (m_progress != nullptr) {
        SendMessageA(m_progress, PBM_SETRANGE32, static_cast<WPARAM>(low), high);
    }
}

void CProgressDlg::SetPos(int position) {
    if (m_progress != nullptr) {
        SendMessageA(m_progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }
}

void CProgressDlg::SetCaption(const std::string& caption) {
    if (m_hWnd != nullptr) {
        SetWindowTextA(m_hWnd, caption.c_str());
    }
}
