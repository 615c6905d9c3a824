#include "dialog_exchanges.h"

#include "exchange_guard.h"
#include "resource.h"

namespace {

constexpr unsigned kFailureStyle = MB_OK | MB_ICONEXCLAMATION;   // 48
constexpr unsigned kOutcomeStyle = MB_OK | MB_ICONINFORMATION;   // 64
constexpr unsigned kQuestionStyle = MB_YESNO | MB_ICONQUESTION;  // 36
constexpr int kNoApplicationCode = 255;

// The exchanges' front end on the main dialog.
class DialogFrontEnd final : public exchange::IFrontEnd {
public:
    // nPortIndex: the dialog's m_nPortIndex; TEST takes it afresh from the list.
    DialogFrontEnd(IDialogControls& dialog, std::uint8_t carried, int& nPortIndex,
                   bool takeSelection)
        : m_dialog(dialog),
          m_carried(carried),
          m_nPortIndex(nPortIndex),
          m_takeSelection(takeSelection) {}

    exchange::PortToOpen Port() override {
        if (m_takeSelection) {
            m_nPortIndex = m_dialog.GetPortSelection();
        }
        return exchange::ComPort(m_nPortIndex + 1);
    }
    void ShowMessage(const std::string& text, exchange::MessageKind kind) override {
        m_dialog.ShowMessageBox(
            text, kind == exchange::MessageKind::kFailure ? kFailureStyle : kOutcomeStyle);
    }
    bool AskYesNo(const std::string& text) override {
        return m_dialog.ShowMessageBox(text, kQuestionStyle) == IDYES;
    }
    // The label's first line names no version but "none": the dialog keeps the rest to itself.
    void ScannerReplied(int scannerVersion) override {
        m_dialog.SetControlText(IDC_VERSION, (scannerVersion == kNoApplicationCode
                                                  ? "SCANNER VERSION: -none-\nUPDATER VERSION: "
                                                  : "\nUPDATER VERSION: ") +
                                                 VersionText(m_carried));
    }
    std::unique_ptr<exchange::IProgressWindow> CreateProgressWindow() override {
        return m_dialog.CreateProgressWindow();
    }
    void UploadAccepted() override { m_dialog.ShowControl(IDC_COMPLETE); }
    // The next step is always a new TEST.
    void UploadEnding() override { EnableSteps(/*offerUpload=*/false); }

    // Offering the upload enables UPDATE alone, so that the port cannot change before it.
    void EnableSteps(bool offerUpload) {
        m_dialog.EnableControl(IDC_TEST, !offerUpload);
        m_dialog.EnableControl(IDC_UPDATE, offerUpload);
        m_dialog.EnableControl(IDC_COMPORT, !offerUpload);
    }

private:
    IDialogControls& m_dialog;
    std::uint8_t m_carried;
    int& m_nPortIndex;
    bool m_takeSelection;
};

// The dialog's m_nScannerVersion: 0 once the ready byte was seen, then the version read.
void StoreScannerVersion(const exchange::VersionCheckResult& result, int& nScannerVersion) {
    if (result.scannerVersion) {
        nScannerVersion = *result.scannerVersion;
    } else if (result.outcome == exchange::VersionCheckOutcome::kNoReply) {
        nScannerVersion = 0;
    }
}

// Shows the wait cursor for as long as it lives.
class WaitCursor {
public:
    explicit WaitCursor(IDialogControls& dialog) : m_dialog(dialog) { m_dialog.BeginWaitCursor(); }
    ~WaitCursor() { m_dialog.EndWaitCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    IDialogControls& m_dialog;
};

}  // namespace

exchange::VersionCheckResult RunDialogTest(DialogIo& io, const FirmwarePayload& firmware,
                                           int& nPortIndex, int& nScannerVersion) {
    DialogFrontEnd front(io.dialog, firmware.VersionByte(), nPortIndex, /*takeSelection=*/true);
    exchange::ExchangeIo exchangeIo{front, io.opener, io.clock};
    const exchange::VersionCheckResult result = exchange::RunVersionCheck(exchangeIo, firmware);
    StoreScannerVersion(result, nScannerVersion);
    if (result.scannerVersion) {  // a failed check changes no control
        front.EnableSteps(result.outcome == exchange::VersionCheckOutcome::kUploadOffered);
    }
    return result;
}

exchange::UploadResult RunDialogUpdate(DialogIo& io, const FirmwarePayload& firmware,
                                       int nPortIndex) {
    if (exchange::ExchangeGuard::IsRunning()) {
        return {};  // busy: not even the cursor changes
    }
    const WaitCursor waitCursor(io.dialog);
    DialogFrontEnd front(io.dialog, firmware.VersionByte(), nPortIndex, /*takeSelection=*/false);
    exchange::ExchangeIo exchangeIo{front, io.opener, io.clock};
    return exchange::RunFirmwareUpload(exchangeIo, firmware);
}
