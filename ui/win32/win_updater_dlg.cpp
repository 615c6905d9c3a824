#include "win_updater_dlg.h"

#include <cstdio>

#include "diag_log.h"
#include "dialog_templates.h"
#include "exchange_guard.h"
#include "exchange_pump.h"
#include "firmware_payload.h"
#include "hidden_message.h"
#include "resource.h"
#include "stored_texts.h"
#include "win_about_dlg.h"
#include "win_message_box.h"
#include "win_progress_dlg.h"

namespace {

constexpr int kPortCount = 256;
constexpr unsigned kStartupWarningStyle = MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2;
constexpr WPARAM kSysCommandMask = 0xFFF0;
constexpr const char* kExchangeFailedText =
    "An unexpected error stopped the operation. The port has been closed.\n\nPlease retry "
    "from Step 1.";

std::string CarriedVersion() {
    return VersionText(g_carriedFirmware.VersionByte());
}

std::string WindowText(HWND hwnd) {
    char text[512] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

}  // namespace

CUpdaterDlg::CUpdaterDlg(HWND parent)
    : CDialog(IDD_UPDATER_DIALOG, parent),
      m_hIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_hAccel(LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_ACCELERATOR))),
      m_keepAwake(CreateSystemKeepAwake()) {
    SetMainWindowTitleSource([this] { return WindowText(m_hWnd); });
}

CUpdaterDlg::~CUpdaterDlg() {
    // The log must not read the title of a dialog that is gone.
    SetMainWindowTitleSource({});
}

void CUpdaterDlg::SetExchangeServices(std::unique_ptr<exchange::IPortOpener> opener,
                                      std::unique_ptr<exchange::IClock> clock) {
    m_opener = std::move(opener);
    m_clock = std::move(clock);
}

void CUpdaterDlg::SetKeepAwake(std::unique_ptr<IKeepAwake> keepAwake) {
    m_keepAwake = std::move(keepAwake);
}

BOOL CUpdaterDlg::OnInitDialog() {
    AddAboutItem();
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    FillPortList();
    WriteVersionTexts();
    CenterWindow(nullptr);
    if (AppMessageBox(m_hWnd, dialog_template::kStartupWarning, kStartupWarningStyle) != IDYES) {
        PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

void CUpdaterDlg::AddAboutItem() {
    HMENU menu = GetSystemMenu(m_hWnd, FALSE);
    if (menu == nullptr) {
        return;
    }
    char text[256] = {};
    if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof text) <= 0 ||
        text[0] == '\0') {
        return;
    }
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, text);
}

void CUpdaterDlg::FillPortList() {
    HWND list = GetDlgItem(IDC_COMPORT);
    for (int n = 1; n <= kPortCount; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "COM%d", n);
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    SendMessageA(list, CB_SETCURSEL, 0, 0);
    m_portList.Attach(list);
}

void CUpdaterDlg::WriteVersionTexts() {
    const std::string version = CarriedVersion();
    SetControlText(IDC_VERSION, "SCANNER VERSION: ?.?\nUPDATER VERSION: " + version);
    SetWindowTextA(m_hWnd, (WindowText(m_hWnd) + " " + version).c_str());
    SetControlText(IDC_STEP4, GetDlgItemText(IDC_STEP4) + " " + version + " ");
}

bool CUpdaterDlg::OnCommand(int id, int notifyCode) {
    switch (id) {
        // A click posted before the button was disabled, or sent by another program, must
        // not start the step the dialog does not offer now.
        case IDC_TEST:
            if (IsWindowEnabled(GetDlgItem(id))) {
                OnTest();
            }
            return true;
        case IDC_UPDATE:
            if (IsWindowEnabled(GetDlgItem(id))) {
                OnUpdate();
            }
            return true;
        case ID_HIDDEN_MESSAGE:
            OnHiddenMessage();
            return true;
        case IDC_COMPORT:
            return m_portList.OnNotify(notifyCode);
        default:
            return CDialog::OnCommand(id, notifyCode);
    }
}

bool CUpdaterDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (m_portList.OnParentMessage(message, wParam, lParam, result)) {
        return true;
    }
    switch (message) {
        case WM_SYSCOMMAND:
            if (!OnSysCommand(wParam)) {
                return false;
            }
            result = TRUE;
            return true;
        case WM_PAINT:
            if (!IsIconic(m_hWnd)) {
                return false;
            }
            PaintMinimised();
            result = TRUE;
            return true;
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<INT_PTR>(m_hIcon);
            return true;
        case WM_HELP:
            // A help request opens nothing.
            result = TRUE;
            return true;
        default:
            return CDialog::OnMessage(message, wParam, lParam, result);
    }
}

bool CUpdaterDlg::PreTranslateMessage(MSG& msg) {
    if (m_hAccel == nullptr || m_hWnd == nullptr) {
        return false;
    }
    if (msg.hwnd != m_hWnd && !IsChild(m_hWnd, msg.hwnd)) {
        return false;
    }
    return TranslateAcceleratorA(m_hWnd, m_hAccel, &msg) != 0;
}

bool CUpdaterDlg::OnSysCommand(WPARAM id) {
    if ((id & kSysCommandMask) != IDM_ABOUTBOX) {
        return false;
    }
    CAboutDlg about;
    about.DoModal();
    return true;
}

void CUpdaterDlg::PaintMinimised() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
}

template <typename Exchange>
void CUpdaterDlg::RunExchange(Exchange&& exchange, IKeepAwake* keepAwake) {
    if (exchange::ExchangeGuard::IsRunning() || !m_opener || !m_clock) {
        return;  // a command that got past the pump; the exchange refuses it anyway
    }
    bool failed = false;
    bool handlerFailed = false;
    {
        ExchangeSession session(m_hWnd, *m_opener, *m_clock, keepAwake);
        m_pSession = &session;
        DialogIo io{*this, session.Opener(), session.Clock()};
        try {
            exchange(io);
        } catch (...) {
            failed = true;  // unwinding has closed the port
        }
        m_pSession = nullptr;
        handlerFailed = session.HandlerFailed();
    }
    if (failed) {
        EndFailedExchange();
    }
    // Another window's handler is no part of the exchange: its outcome and controls stand.
    if (handlerFailed) {
        AppMessageBox(m_hWnd, kHandlerFailedText, MB_OK | MB_ICONEXCLAMATION);
    }
}

void CUpdaterDlg::EndFailedExchange() {
    EnableControl(IDC_TEST, true);
    EnableControl(IDC_UPDATE, false);
    EnableControl(IDC_COMPORT, true);
    AppMessageBox(m_hWnd, kExchangeFailedText, MB_OK | MB_ICONEXCLAMATION);
}

void CUpdaterDlg::OnTest() {
    RunExchange(
        [this](DialogIo& io) {
            RunDialogTest(io, g_carriedFirmware, m_nPortIndex, m_nScannerVersion);
        },
        nullptr);
}

void CUpdaterDlg::OnUpdate() {
    // The machine stays up from the start of UPDATE to its clean-up, however it ends.
    RunExchange([this](DialogIo& io) { RunDialogUpdate(io, g_carriedFirmware, m_nPortIndex); },
                m_keepAwake.get());
}

void CUpdaterDlg::OnHiddenMessage() {
    // Not in the middle of an exchange, however the command arrived.
    if (exchange::ExchangeGuard::IsRunning()) {
        return;
    }
    AppMessageBox(m_hWnd, HiddenMessageText(g_storedTexts), MB_OK | MB_ICONINFORMATION);
}

int CUpdaterDlg::GetPortSelection() {
    return static_cast<int>(SendMessageA(GetDlgItem(IDC_COMPORT), CB_GETCURSEL, 0, 0));
}

int CUpdaterDlg::ShowMessageBox(const std::string& text, unsigned style) {
    // A click queued since the last pump must not reach the dialog once the box is gone.
    if (m_pSession != nullptr) {
        m_pSession->Pump().DiscardInput();
    }
    return AppMessageBox(m_hWnd, text, style);
}

void CUpdaterDlg::EnableControl(int id, bool enable) {
    HWND control = GetDlgItem(id);
    if (control == nullptr) {
        return;
    }
    // A control that loses its enabled state while it has the focus would leave the keyboard
    // with nowhere to go.
    if (!enable && GetFocus() == control) {
        SendMessageA(m_hWnd, WM_NEXTDLGCTL, 0, FALSE);
    }
    EnableWindow(control, enable ? TRUE : FALSE);
}

void CUpdaterDlg::SetControlText(int id, const std::string& text) {
    SetDlgItemTextA(m_hWnd, id, text.c_str());
}

void CUpdaterDlg::ShowControl(int id) {
    ShowWindow(GetDlgItem(id), SW_SHOW);
}

void CUpdaterDlg::BeginWaitCursor() {
    ++m_waitCursors;
    BeginWaitCursorCount();
}

void CUpdaterDlg::EndWaitCursor() {
    if (m_waitCursors > 0) {
        --m_waitCursors;
        EndWaitCursorCount();
    }
}

std::unique_ptr<exchange::IProgressWindow> CUpdaterDlg::CreateProgressWindow() {
    return std::make_unique<CProgressDlg>(m_hWnd);
}
