#include "win_updater_app.h"

#include <windows.h>
// Needs <windows.h> before it.
#include <commctrl.h>

#include "port_opener_and_clock.h"
#include "win_updater_dlg.h"

CUpdaterApp theApp;

bool CUpdaterApp::InitInstance() {
    // The common controls (the progress bar) in the look the manifest asks for.
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                  ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    CUpdaterDlg dlg;
    dlg.SetExchangeServices(std::make_unique<SerialPortOpener>(), std::make_unique<SystemClock>());
    SetMainWindow(&dlg);
    dlg.DoModal();
    SetMainWindow(nullptr);
    return false;
}
