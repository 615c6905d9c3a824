#include "dialog_base.h"

#include <vector>

#include "win_message_box.h"

namespace {

const CDialog* g_mainWindow = nullptr;
int g_waitCursorCount = 0;
int g_busyCount = 0;
int g_handlerFailures = 0;

// What Windows sends when the window menu is asked for from the taskbar; the default handler
// would run the menu's modal loop.
constexpr UINT kPopupSystemMenu = 0x0313;
constexpr WPARAM kSysCommandMask = 0xFFF0;

// Counts a handler's exception; shows its message at once unless an exchange runs.
void ReportHandlerFailure() noexcept {
    ++g_handlerFailures;
    if (g_busyCount > 0) {
        return;
    }
    try {
        AppMessageBox(GetMainWindow(), kHandlerFailedText, MB_OK | MB_ICONEXCLAMATION);
    } catch (...) {
        // Not even the message could be shown; the program goes on.
    }
}

HINSTANCE ProgramInstance() {
    return GetModuleHandleA(nullptr);
}

}  // namespace

void SetMainWindow(const CDialog* dialog) {
    g_mainWindow = dialog;
}

HWND GetMainWindow() {
    return g_mainWindow != nullptr ? g_mainWindow->GetSafeHwnd() : nullptr;
}

void BeginWaitCursorCount() {
    ++g_waitCursorCount;
    SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
}

void EndWaitCursorCount() {
    if (g_waitCursorCount > 0 && --g_waitCursorCount == 0) {
        SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));
    }
}

bool IsWaitCursorShown() {
    return g_waitCursorCount > 0;
}

BusyScope::BusyScope() : m_failuresAtStart(g_handlerFailures) {
    ++g_busyCount;
}

BusyScope::~BusyScope() {
    --g_busyCount;
}

bool BusyScope::FailureSeen() const {
    return g_handlerFailures != m_failuresAtStart;
}

bool IsBusy() {
    return g_busyCount > 0;
}

CDialog::CDialog(int templateId, HWND parent) : m_templateId(templateId), m_hParent(parent) {}

CDialog::~CDialog() {
    if (m_hWnd != nullptr) {
        HWND hwnd = m_hWnd;
        m_hWnd = nullptr;
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        DestroyWindow(hwnd);
    }
}

bool CDialog::Create() {
    HWND hwnd = CreateDialogParamA(ProgramInstance(), MAKEINTRESOURCEA(m_templateId), m_hParent,
                                   &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

INT_PTR CDialog::DoModal() {
    HWND owner = m_hParent != nullptr ? m_hParent : GetMainWindow();
    m_bEnded = false;
    m_nResult = -1;
    HWND hwnd = CreateDialogParamA(ProgramInstance(), MAKEINTRESOURCEA(m_templateId), owner,
                                   &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr) {
        return -1;
    }
    const bool disableOwner = owner != nullptr && IsWindowEnabled(owner);
    if (disableOwner) {
        EnableWindow(owner, FALSE);
    }
    // A template without WS_VISIBLE is shown here, as a modal run always shows its dialog.
    if (!m_bEnded && m_hWnd != nullptr && !IsWindowVisible(m_hWnd)) {
        ShowWindow(m_hWnd, SW_SHOW);
    }
    RunModalLoop();
    // The owner is enabled before the dialog goes, so that it becomes the active window again.
    if (disableOwner) {
        EnableWindow(owner, TRUE);
    }
    if (m_hWnd != nullptr) {
        SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
    return m_nResult;
}

void CDialog::RunModalLoop() {
    MSG msg;
    while (!m_bEnded) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT ends the run; the loop outside sees it again.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (got == -1) {
            return;
        }
        if (PreTranslateMessage(msg) || IsDialogMessageA(m_hWnd, &msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void CDialog::EndDialog(INT_PTR result) {
    m_nResult = result;
    m_bEnded = true;
}

std::string CDialog::GetDlgItemText(int id) const {
    HWND control = GetDlgItem(id);
    std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(control)) + 1);
    GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
    return text.data();
}

void CDialog::CenterWindow(HWND over) {
    RECT area;
    if (over != nullptr) {
        GetWindowRect(over, &area);
    } else {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    }
    RECT self;
    GetWindowRect(m_hWnd, &self);
    const int x = (area.left + area.right) / 2 - (self.right - self.left) / 2;
    const int y = (area.top + area.bottom) / 2 - (self.bottom - self.top) / 2;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CDialog::OnCommand(int id, int /*notifyCode*/) {
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

bool CDialog::OnMessage(UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/, INT_PTR& result) {
    if (message == WM_SETCURSOR && IsWaitCursorShown()) {
        SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
        result = TRUE;
        return true;
    }
    return false;
}

bool CDialog::PreTranslateMessage(MSG& /*msg*/) {
    return false;
}

bool CDialog::RefuseWhileBusy(UINT message, WPARAM wParam, INT_PTR& result) {
    switch (message) {
        case WM_QUERYENDSESSION:
            // The answer of a dialog procedure goes through DWLP_MSGRESULT.
            SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, FALSE);
            result = TRUE;
            return true;
        case WM_SYSCOMMAND:
            if ((wParam & kSysCommandMask) == SC_CLOSE) {
                MessageBeep(MB_ICONEXCLAMATION);
            }
            result = TRUE;
            return true;
        case WM_CLOSE:
            MessageBeep(MB_ICONEXCLAMATION);
            result = TRUE;
            return true;
        case kPopupSystemMenu:
            result = TRUE;
            return true;
        default:
            return false;
    }
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (INT_PTR refused = FALSE; IsBusy() && RefuseWhileBusy(message, wParam, refused)) {
        return refused;
    }
    if (message == WM_COMMAND) {
        return OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    }
    if (message == WM_CLOSE) {
        OnCancel();
        return TRUE;
    }
    INT_PTR result = FALSE;
    if (OnMessage(message, wParam, lParam, result)) {
        return result;
    }
    return FALSE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // MinGW's unwinder cannot pass user32's frames: an exception leaving here would end the
    // program through std::terminate, in the middle of an upload too.
    try {
        return Dispatch(hwnd, message, wParam, lParam);
    } catch (...) {
        ReportHandlerFailure();
        return FALSE;
    }
}

INT_PTR CDialog::Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        dialog->m_hWnd = hwnd;
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (dialog == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        // Destroyed from outside: the object must not keep a dead handle.
        dialog->m_hWnd = nullptr;
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        return FALSE;
    }
    return dialog->HandleMessage(message, wParam, lParam);
}
