// TEST and UPDATE as the main dialog runs them: the exchanges' front end mapped onto the
// dialog's controls and message boxes, the same for the Qt and the Win32 dialog.
#pragma once

#include <memory>
#include <string>

#include "exchange_io.h"
#include "firmware_payload.h"
#include "firmware_upload.h"
#include "version_check.h"

// The main dialog as TEST and UPDATE drive it: its controls by identifier, its message boxes
// by style. Each dialog implements it; the tests record it.
class IDialogControls {
public:
    virtual ~IDialogControls() = default;
    // The COM port list's current selection (CB_GETCURSEL), zero-based.
    virtual int GetPortSelection() = 0;
    // A modal message box with the application title as caption; returns IDOK, IDYES or IDNO.
    virtual int ShowMessageBox(const std::string& text, unsigned style) = 0;
    // Enables or disables a control (1000, 1002, 1003).
    virtual void EnableControl(int id, bool enable) = 0;
    // Sets a control's text (1005, the status label).
    virtual void SetControlText(int id, const std::string& text) = 0;
    // Shows a hidden control (1004, the completion text).
    virtual void ShowControl(int id) = 0;
    // Shows the wait cursor until EndWaitCursor.
    virtual void BeginWaitCursor() = 0;
    // Restores the cursor shown before BeginWaitCursor.
    virtual void EndWaitCursor() = 0;
    // Creates the progress window, on screen and centred over the dialog.
    virtual std::unique_ptr<exchange::IProgressWindow> CreateProgressWindow() = 0;
};

// What a dialog's exchange needs: the dialog, and the port and clock.
struct DialogIo {
    IDialogControls& dialog;
    exchange::IPortOpener& opener;
    exchange::IClock& clock;
};

// OnTest: the version check on the list's selection, which it stores in nPortIndex (the
// dialog's m_nPortIndex); nScannerVersion (m_nScannerVersion) as the check leaves it; the
// status label, the outcome's message box and the controls that offer the upload, or not.
exchange::VersionCheckResult RunDialogTest(DialogIo& io, const FirmwarePayload& firmware,
                                           int& nPortIndex, int& nScannerVersion);

// OnUpdate: the upload on the port nPortIndex names, under the wait cursor; every way out
// once the port was open hands the controls back to TEST. While another exchange runs on this
// thread it does nothing at all.
exchange::UploadResult RunDialogUpdate(DialogIo& io, const FirmwarePayload& firmware,
                                       int nPortIndex);
