#include "win_about_dlg.h"

#include "firmware_payload.h"
#include "resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX, nullptr) {}

BOOL CAboutDlg::OnInitDialog() {
    const std::string line =
        GetDlgItemText(IDC_ABOUT_VERSION) + " " + VersionText(g_carriedFirmware.VersionByte());
    SetDlgItemTextA(m_hWnd, IDC_ABOUT_VERSION, line.c_str());
    CenterWindow(GetWindow(m_hWnd, GW_OWNER));
    return TRUE;
}
