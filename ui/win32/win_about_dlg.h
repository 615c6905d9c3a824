// CAboutDlg: template 100, the program line with the carried version.
#pragma once

#include "dialog_base.h"

class CAboutDlg : public CDialog {
public:
    // No parent: a modal run is owned by the main window.
    CAboutDlg();

protected:
    // Appends the carried version to control 1007 and centres the box over its owner.
    BOOL OnInitDialog() override;
};
