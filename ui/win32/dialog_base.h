// CDialog: the thin layer of our own under the Win32 dialogs. A dialog is built from its
// template resource; a modal run uses our own message loop, so that every message bound for
// the dialog passes PreTranslateMessage (accelerators) before the dialog's keyboard handling.
#pragma once

#include <windows.h>

#include <string>

class CDialog {
public:
    // The dialog from template templateId; parent null means the main window when run modally.
    CDialog(int templateId, HWND parent);
    // Destroys the window if it still exists.
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Creates the window, disables the owner and runs our loop until EndDialog; returns the
    // result given to EndDialog, or -1 when the window could not be created.
    INT_PTR DoModal();
    // Creates the window modeless; false when it could not be created.
    bool Create();
    // Ends a modal run with result once the current message has been handled.
    void EndDialog(INT_PTR result);

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    std::string GetDlgItemText(int id) const;
    // Moves the window so that its centre falls on the centre of over (the screen when null).
    void CenterWindow(HWND over);

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // WM_COMMAND; true when handled. IDOK and IDCANCEL end the dialog through OnOK and OnCancel.
    virtual bool OnCommand(int id, int notifyCode);
    // Any other message; true when handled, with result the dialog procedure's answer.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    // Offered every message of the modal loop before the dialog's keyboard handling; true
    // consumes it.
    virtual bool PreTranslateMessage(MSG& msg);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    HWND m_hWnd = nullptr;

private:
    // Catches every exception of the handlers: none may leave through user32's frames.
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // What IsBusy() refuses; true with result the dialog procedure's answer.
    bool RefuseWhileBusy(UINT message, WPARAM wParam, INT_PTR& result);
    void RunModalLoop();

    int m_templateId;
    HWND m_hParent;
    bool m_bEnded = false;
    INT_PTR m_nResult = -1;
};

// The application's main window (CWinApp's m_pMainWnd): the owner of modal dialogs run without
// a parent. Null when none is set or its window does not exist.
void SetMainWindow(const CDialog* dialog);
HWND GetMainWindow();

// While an exchange runs inside a click, every dialog refuses what would end the program or
// nest a modal loop inside the exchange (a system command, the taskbar's window menu, a close
// request, the end of the session), and a handler's exception is only counted: its message
// would stop the exchange, so the scope's owner shows it once the exchange is over. Nests.
class BusyScope {
public:
    BusyScope();
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    // Whether a dialog's handler failed with an exception while this scope lived.
    bool FailureSeen() const;

private:
    int m_failuresAtStart;
};

// Whether a BusyScope lives.
bool IsBusy();

// The message shown when a handler fails with an exception outside an exchange.
inline constexpr const char* kHandlerFailedText =
    "An unexpected error occurred. The last action was not completed.";

// The wait cursor shared by every dialog: shown while the count is above 0, also when the
// mouse moves over our windows.
void BeginWaitCursorCount();
void EndWaitCursorCount();
bool IsWaitCursorShown();
