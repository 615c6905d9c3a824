#include "updater_app.h"

#include "updater_dlg.h"

CUpdaterApp theApp;

bool CUpdaterApp::InitInstance() {
    // Qt draws its controls in three dimensions itself, so no control look is switched on here.
    CUpdaterDlg dlg;
    dlg.DoModal();
    return false;
}
