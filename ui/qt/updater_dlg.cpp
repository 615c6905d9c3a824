#include "updater_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSessionManager>
#include <QShortcut>
#include <QSignalBlocker>

#include "about_dlg.h"
#include "app_icon.h"
#include "com_port_list.h"
#include "diag_log.h"
#include "exchange_guard.h"
#include "exchange_session.h"
#include "firmware_payload.h"
#include "hidden_message.h"
#include "message_box.h"
#include "port_opener_and_clock.h"
#include "progress_dlg.h"
#include "stored_texts.h"
#include "template_builder.h"

namespace {

constexpr int kPortCount = 256;
constexpr unsigned kStartupWarningStyle = MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2;
constexpr unsigned kSysCommandMask = 0xFFF0;

QString CarriedVersion() {
    return QString::fromStdString(VersionText(g_carriedFirmware.VersionByte()));
}

// Qt's session manager behind the dialog's answer.
class QtSessionEndRequest final : public ISessionEndRequest {
public:
    explicit QtSessionEndRequest(QSessionManager& manager) : m_manager(manager) {}
    // An error interaction: granted before the others, and also where only those are allowed.
    bool AllowsErrorInteraction() override { return m_manager.allowsErrorInteraction(); }
    void Cancel() override { m_manager.cancel(); }
    void Release() override { m_manager.release(); }

private:
    QSessionManager& m_manager;
};

}  // namespace

CUpdaterDlg::CUpdaterDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_hIcon(AppIcon()),
      m_opener(std::make_unique<SerialPortOpener>()),
      m_clock(std::make_unique<SystemClock>()),
      m_keepAwake(CreateSystemKeepAwake()) {
    BuildFromTemplate(*this, dialog_template::kMainDialog);
    connect(qobject_cast<QPushButton*>(Control(IDC_EXIT)), &QPushButton::clicked, this,
            &QDialog::accept);
    ConnectCommand(IDC_TEST, &CUpdaterDlg::OnTest);
    ConnectCommand(IDC_UPDATE, &CUpdaterDlg::OnUpdate);
    m_hAccel = new QShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_F3), this);
    m_hAccel->setContext(Qt::WindowShortcut);
    connect(m_hAccel, &QShortcut::activated, this, &CUpdaterDlg::OnHiddenMessage);
    ConnectPortMarks();
    ConnectSessionManager();
    SetMainWindowTitleSource([this] { return windowTitle().toStdString(); });
}

CUpdaterDlg::~CUpdaterDlg() {
    // The log must not read the title of a dialog that is gone.
    SetMainWindowTitleSource({});
}

void CUpdaterDlg::SetExchangeServices(std::unique_ptr<exchange::IPortOpener> opener,
                                      std::unique_ptr<exchange::IClock> clock) {
    m_opener = std::move(opener);
    m_clock = std::move(clock);
}

void CUpdaterDlg::SetKeepAwake(std::unique_ptr<IKeepAwake> keepAwake) {
    if (keepAwake) {
        m_keepAwake = std::move(keepAwake);
    }
}

int CUpdaterDlg::DoModal() {
    if (!OnInitDialog()) {
        return IDCANCEL;
    }
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

bool CUpdaterDlg::OnInitDialog() {
    setWindowIcon(m_hIcon);
    auto* ports = qobject_cast<QComboBox*>(Control(IDC_COMPORT));
    ports->clear();
    for (int n = 1; n <= kPortCount; ++n) {
        ports->addItem(QStringLiteral("COM%1").arg(n));
    }
    ports->setCurrentIndex(0);
    MarkComPorts(*ports);
    const QString version = CarriedVersion();
    SetControlText(IDC_VERSION, "SCANNER VERSION: ?.?\nUPDATER VERSION: " + version.toStdString());
    setWindowTitle(windowTitle() + " " + version);
    AppendText(IDC_STEP4, " " + version + " ");
    Control(IDC_EXIT)->setFocus();
    const int answer = ::ShowMessageBox(
        nullptr, QString::fromUtf8(dialog_template::kStartupWarning), kStartupWarningStyle);
    return answer == IDYES;
}

void CUpdaterDlg::ConnectPortMarks() {
    auto* ports = qobject_cast<DropDownList*>(Control(IDC_COMPORT));
    // Devices come and go (a USB cable), so the marks are taken afresh whenever they show.
    connect(ports, &DropDownList::aboutToShowDetails, this, [ports] { MarkComPorts(*ports); });
    connect(ports, &QComboBox::currentIndexChanged, this, [ports] { ShowSelectedPortTip(*ports); });
}

void CUpdaterDlg::ConnectSessionManager() {
    // The session manager must have its answer before the signal returns.
    connect(
        qGuiApp, &QGuiApplication::commitDataRequest, this,
        [this](QSessionManager& manager) {
            QtSessionEndRequest request(manager);
            OnSessionEndRequest(request);
        },
        Qt::DirectConnection);
}

bool CUpdaterDlg::OnSessionEndRequest(ISessionEndRequest& request) {
    // Ending the session in mid-exchange would cut the scanner off, mid-image in an upload.
    if (!exchange::ExchangeGuard::IsRunning() || !request.AllowsErrorInteraction()) {
        return false;
    }
    request.Cancel();
    request.Release();
    return true;
}

// An accessibility press releases the button 100 ms later, also when an exchange has disabled
// it meanwhile; a disabled button commands nothing, as a Windows button sends no command then.
void CUpdaterDlg::ConnectCommand(int id, void (CUpdaterDlg::*handler)()) {
    auto* button = qobject_cast<QPushButton*>(Control(id));
    connect(button, &QPushButton::clicked, this, [this, button, handler] {
        if (button->isEnabled()) {
            (this->*handler)();
        }
    });
}

template <typename Exchange>
void CUpdaterDlg::RunExchange(Exchange&& exchange) {
    if (exchange::ExchangeGuard::IsRunning()) {
        return;  // a click that got past the input blocker; the exchange refuses it anyway
    }
    ExchangeSession session(this, *m_opener, *m_clock);
    // The hidden message must not open in the middle of an exchange.
    const QSignalBlocker noAccelerator(m_hAccel);
    DialogIo io{*this, session.Opener(), session.Clock()};
    exchange(io, session.Pump());
}

void CUpdaterDlg::OnTest() {
    RunExchange([this](DialogIo& io, IEventPump&) {
        RunDialogTest(io, g_carriedFirmware, m_nPortIndex, m_nScannerVersion);
    });
}

void CUpdaterDlg::OnUpdate() {
    RunExchange([this](DialogIo& io, IEventPump& pump) {
        // No sleep or shutdown from the start of the upload to its clean-up; the dialog stays
        // painted while the system is asked.
        const KeepAwakeScope awake(*m_keepAwake, &pump);
        RunDialogUpdate(io, g_carriedFirmware, m_nPortIndex);
    });
}

void CUpdaterDlg::OnHiddenMessage() {
    ::ShowMessageBox(this, QString::fromStdString(HiddenMessageText(g_storedTexts)),
                     MB_OK | MB_ICONINFORMATION);
}

bool CUpdaterDlg::OnSysCommand(unsigned id) {
    if ((id & kSysCommandMask) != static_cast<unsigned>(IDM_ABOUTBOX)) {
        return false;
    }
    CAboutDlg about(this);
    about.exec();
    return true;
}

QMenu* CUpdaterDlg::CreateSystemMenu() {
    auto* menu = new QMenu(this);
    const QString text = QString::fromUtf8(dialog_template::kAboutMenuText);
    if (!text.isEmpty()) {
        menu->addAction(text, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    }
    return menu;
}

void CUpdaterDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = CreateSystemMenu();
    menu->exec(event->globalPos());
    delete menu;
}

void CUpdaterDlg::keyPressEvent(QKeyEvent* event) {
    // A help request opens nothing.
    if (event->key() == Qt::Key_F1 || event->key() == Qt::Key_Help) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

QWidget* CUpdaterDlg::Control(int id) const {
    return FindControl(*this, id);
}

void CUpdaterDlg::AppendText(int id, const QString& suffix) {
    auto* label = qobject_cast<QLabel*>(Control(id));
    label->setText(label->text() + suffix);
}

int CUpdaterDlg::GetPortSelection() {
    return qobject_cast<QComboBox*>(Control(IDC_COMPORT))->currentIndex();
}

int CUpdaterDlg::ShowMessageBox(const std::string& text, unsigned style) {
    return ::ShowMessageBox(this, QString::fromStdString(text), style);
}

void CUpdaterDlg::EnableControl(int id, bool enable) {
    if (QWidget* control = Control(id)) {
        control->setEnabled(enable);
    }
}

void CUpdaterDlg::SetControlText(int id, const std::string& text) {
    if (auto* label = qobject_cast<QLabel*>(Control(id))) {
        label->setText(QString::fromStdString(text));
    }
}

void CUpdaterDlg::ShowControl(int id) {
    if (QWidget* control = Control(id)) {
        control->show();
    }
}

void CUpdaterDlg::BeginWaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++m_waitCursors;
}

void CUpdaterDlg::EndWaitCursor() {
    if (m_waitCursors > 0) {
        QApplication::restoreOverrideCursor();
        --m_waitCursors;
    }
}

std::unique_ptr<exchange::IProgressWindow> CUpdaterDlg::CreateProgressWindow() {
    return std::make_unique<CProgressDlg>(this);
}
