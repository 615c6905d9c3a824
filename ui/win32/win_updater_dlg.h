// CUpdaterDlg on Windows: template 102, its four steps and the controls the TEST and UPDATE
// exchanges drive.
#pragma once

#include <windows.h>

#include <memory>

#include "dialog_base.h"
#include "dialog_exchanges.h"
#include "exchange_io.h"
#include "keep_awake.h"
#include "win_com_port_list.h"

class ExchangeSession;

class CUpdaterDlg : public CDialog, public IDialogControls {
public:
    // Loads icon 128 and accelerator table 130; the ports and clock come through
    // SetExchangeServices before TEST or UPDATE run.
    explicit CUpdaterDlg(HWND parent = nullptr);
    ~CUpdaterDlg() override;

    // The ports and clock the exchanges use: the real ones in the program, stand-ins in tests.
    void SetExchangeServices(std::unique_ptr<exchange::IPortOpener> opener,
                             std::unique_ptr<exchange::IClock> clock);
    // What keeps the machine up during UPDATE: the system's by default, a stand-in in tests.
    void SetKeepAwake(std::unique_ptr<IKeepAwake> keepAwake);

    // TEST: the version check on the selected port.
    void OnTest();
    // UPDATE: the firmware upload on the port the last TEST stored.
    void OnUpdate();
    // Command 32771: the message box of the four stored texts.
    void OnHiddenMessage();

    // IDialogControls
    int GetPortSelection() override;
    int ShowMessageBox(const std::string& text, unsigned style) override;
    void EnableControl(int id, bool enable) override;
    void SetControlText(int id, const std::string& text) override;
    void ShowControl(int id) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    std::unique_ptr<exchange::IProgressWindow> CreateProgressWindow() override;

    int m_nPortIndex = 0;       // the list index TEST stored; the COM number is one more
    int m_nScannerVersion = 0;  // the scanner's version as TEST last read it
    HICON m_hIcon;              // icon 128
    HACCEL m_hAccel;            // accelerator table 130; null when it cannot be loaded

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int notifyCode) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    // Offers messages bound for the dialog or its controls to the accelerator table first.
    bool PreTranslateMessage(MSG& msg) override;

private:
    void AddAboutItem();
    void FillPortList();
    void WriteVersionTexts();
    bool OnSysCommand(WPARAM id);
    void PaintMinimised();
    // Runs the exchange in its session. Only its own exception fails it; a handler of another
    // window that failed meanwhile is reported once it is over.
    template <typename Exchange>
    void RunExchange(Exchange&& exchange, IKeepAwake* keepAwake);
    // After an exception in an exchange: the next step is a new TEST, and the user is told.
    void EndFailedExchange();

    std::unique_ptr<exchange::IPortOpener> m_opener;
    std::unique_ptr<exchange::IClock> m_clock;
    std::unique_ptr<IKeepAwake> m_keepAwake;
    ExchangeSession* m_pSession = nullptr;
    CComPortList m_portList;  // the COM port list's device marks and tooltips
    int m_waitCursors = 0;
};
