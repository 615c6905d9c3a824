// CProgressDlg: the modeless progress window of template 6000, centred over the main dialog.
#pragma once

#include <windows.h>

#include "dialog_base.h"
#include "exchange_io.h"

// The top-left corner that puts a window of the size of self with its centre on the centre of
// parent; each halving truncates toward zero, term by term.
POINT CentredPosition(const RECT& parent, const RECT& self);

class CProgressDlg : public CDialog, public exchange::IProgressWindow {
public:
    // Builds the window over parent, centres it and shows it. Without a window (creation
    // failed) the messages and the caption have no effect.
    explicit CProgressDlg(HWND parent);

    // PBM_SETRANGE32, PBM_SETPOS and the caption, sent straight to the windows.
    void SetRange32(int low, int high) override;
    void SetPos(int position) override;
    void SetCaption(const std::string& caption) override;

    HWND m_progress = nullptr;  // the bar, control 6000
};
