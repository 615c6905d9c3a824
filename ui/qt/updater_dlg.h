// CUpdaterDlg: the main dialog, its four steps and the controls the TEST and UPDATE exchanges
// drive.
#pragma once

#include <QDialog>
#include <QIcon>
#include <memory>

#include "dialog_exchanges.h"
#include "exchange_io.h"
#include "keep_awake.h"

class QMenu;
class QSessionManager;
class QShortcut;

// A session manager's request to end the session, as the dialog answers it.
class ISessionEndRequest {
public:
    virtual ~ISessionEndRequest() = default;
    // Asks leave to interact, which a refusal needs; false when the manager does not give it.
    virtual bool AllowsErrorInteraction() = 0;
    // Refuses the end of the session.
    virtual void Cancel() = 0;
    // Hands the interaction back to the session manager.
    virtual void Release() = 0;
};

// Template 102. OnTest and OnUpdate run their whole exchange inside the click.
class CUpdaterDlg : public QDialog, public IDialogControls {
    Q_OBJECT

public:
    // Builds the dialog from its template with the real serial ports and clock.
    explicit CUpdaterDlg(QWidget* parent = nullptr);
    ~CUpdaterDlg() override;

    // Replaces the ports and clock the exchanges use (tests give stand-ins).
    void SetExchangeServices(std::unique_ptr<exchange::IPortOpener> opener,
                             std::unique_ptr<exchange::IClock> clock);
    // Replaces the hold on sleep and shutdown that UPDATE takes (tests give stand-ins); a
    // null one is ignored.
    void SetKeepAwake(std::unique_ptr<IKeepAwake> keepAwake);

    // Initialises the dialog and, unless the start-up warning is declined, runs it modally.
    // Returns IDOK (EXIT, Enter) or IDCANCEL (Escape, close, a declined warning).
    int DoModal();
    // Fills the list, writes the version into the texts and asks the start-up warning;
    // false when the answer was anything but Yes.
    bool OnInitDialog();

    // TEST: the version check on the selected port.
    void OnTest();
    // UPDATE: the firmware upload on the port the last TEST stored.
    void OnUpdate();
    // Command 32771: the message box of the four stored texts.
    void OnHiddenMessage();
    // A system command: 16 to 31 open the About box (true); others are left to the default.
    bool OnSysCommand(unsigned id);
    // The context menu that stands in for the system menu: the About item.
    QMenu* CreateSystemMenu();

    // The control with the given id, or null.
    QWidget* Control(int id) const;
    // Log-out while TEST or UPDATE runs: refused where the session manager allows it (true);
    // at any other time, or without leave, nothing changes (false).
    bool OnSessionEndRequest(ISessionEndRequest& request);

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
    QIcon m_hIcon;              // icon 128

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    template <typename Exchange>
    void RunExchange(Exchange&& exchange);
    void AppendText(int id, const QString& suffix);
    void ConnectCommand(int id, void (CUpdaterDlg::*handler)());
    // Keeps the COM port list's device tooltips and marks current.
    void ConnectPortMarks();
    // Answers the session manager's requests to end the session.
    void ConnectSessionManager();

    std::unique_ptr<exchange::IPortOpener> m_opener;
    std::unique_ptr<exchange::IClock> m_clock;
    std::unique_ptr<IKeepAwake> m_keepAwake;
    QShortcut* m_hAccel;  // accelerator table 130
    int m_waitCursors = 0;
};
