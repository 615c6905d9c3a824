// The main dialog, the About box and the hidden message, driven as a user would, headless.
#include "updater_dlg.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "about_dlg.h"
#include "diag_log.h"
#include "dialog_templates.h"
#include "dialog_units.h"
#include "firmware_payload.h"
#include "hidden_message.h"
#include "progress_dlg.h"
#include "resource.h"
#include "stored_texts.h"
#include "ui_test_support.h"

namespace {

// The dialog's own texts, written out here so that a slip in the code's copy shows.
const QString kCompletion = QStringLiteral(
    "Operation complete. You may exit this utility by clicking the 'EXIT' button.\nYou can check "
    "the new version number by pressing '3' while the scanner's power-up Welcome Message is "
    "displayed.");
const QString kStartupWarning = QStringLiteral(
    "IMPORTANT!!!\n\nBefore attempting to use this utility, please ensure that you can transfer "
    "data\nbetween the TR-520/521 and your PC, using the Quillcraft USB cable. A good test "
    "would\nbe "
    "to acquire one of the data-management programs available, and perform a few\nupload and "
    "download operations between such a program and your scanner.\n\nThe steps described in this "
    "utility are written with the presumption that you\nalready have the Quillcraft USB-Scanner "
    "Programming cable and are familiar with using\nthat cable to connect your TR-520/521 to your "
    "computer.\n\nPlease be assured that you cannot 'destroy' your radio with this utility - if "
    "an\nupdate operation fails, the scanner's 'Boot' code will clean up and prompt you\nfor a CPU "
    "load until the operation is successful.\n\nAre you ready to proceed with this update "
    "utility?");
const QString kStep1 = QStringLiteral(
    "Connect the TR-520/521 to the PC, using the Quillcraft USB-Scanner Programming Cable. Then, "
    "while holding down the PGM key, turn the scanner ON. The scanner will enter its \"CPU SW "
    "Upgrade\" mode.");
const QString kStep2 = QStringLiteral(
    "In the list at the right, select the COM port which Windows assigned to the USB cable. You "
    "can obtain the COM port from Device Manager, in Control Panel");
const QString kStep3 = QStringLiteral(
    "Click the 'TEST' button to the right. This will test the connection to the scanner.");
const QString kStep4 = QStringLiteral(
    "Click the 'UPDATE' button to the right. This will update the TR-520/521 CPU firmware to "
    "version ");
// The offer TEST makes to a scanner one version older than the carried firmware.
const QString kOffer = "This update utility contains version " + CarriedVersion() + ".";

QPushButton* Button(const CUpdaterDlg& dlg, int id) {
    return qobject_cast<QPushButton*>(dlg.Control(id));
}

QLabel* Label(const CUpdaterDlg& dlg, int id) {
    return qobject_cast<QLabel*>(dlg.Control(id));
}

QComboBox* Ports(const CUpdaterDlg& dlg) {
    return qobject_cast<QComboBox*>(dlg.Control(IDC_COMPORT));
}

// Presses a button as assistive technology does: not an input event, so no filter sees it.
void AccessiblePress(QWidget* button) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
    QVERIFY(accessible != nullptr && accessible->actionInterface() != nullptr);
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

// Runs action once the next modal dialog of type T is up; records whether it came.
template <typename T>
void WhenModalUp(QObject* context, std::function<void(T*)> action, bool* came) {
    auto* poll = new QTimer(context);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, context, [poll, action, came] {
        if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            *came = true;
            action(modal);
        }
    });
    poll->start();
}

// Every text fits its control: wrapped texts in their height, single lines in their width.
void VerifyNoTextClipped(const QWidget& dialog) {
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) {
            continue;
        }
        if (label->wordWrap()) {
            QVERIFY2(label->heightForWidth(label->width()) <= label->height(),
                     qPrintable("clipped: " + label->text()));
        } else {
            QVERIFY2(label->sizeHint().width() <= label->width() &&
                         label->sizeHint().height() <= label->height(),
                     qPrintable("clipped: " + label->text()));
        }
    }
    for (const QPushButton* button : dialog.findChildren<QPushButton*>()) {
        QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) + 8 <= button->width(),
                 qPrintable("clipped: " + button->text()));
    }
}

// Every step of an upload's surroundings, in order: the hold taken and given back, the port
// opened and closed.
class EventLog {
public:
    void Add(const std::string& event) { events.push_back(QString::fromStdString(event)); }
    QStringList events;
};

class RecordingKeepAwake : public IKeepAwake {
public:
    explicit RecordingKeepAwake(EventLog& log) : m_log(log) {}
    void Begin(IEventPump*) override { m_log.Add("begin"); }
    void End() override {
        m_log.Add("end");
        if (onEnd) {
            onEnd();
        }
    }
    std::function<void()> onEnd;  // runs as the hold is given back

private:
    EventLog& m_log;
};

// A scripted scanner whose closing is logged.
class LoggedPort : public ScriptedScannerPort {
public:
    LoggedPort(EventLog& log, std::function<void()> onWrite)
        : ScriptedScannerPort(OlderScannerDigits(), std::move(onWrite)), m_log(log) {}
    ~LoggedPort() override { m_log.Add("close"); }

private:
    EventLog& m_log;
};

class LoggedOpener : public exchange::IPortOpener {
public:
    explicit LoggedOpener(EventLog& log) : m_log(log) {}
    std::unique_ptr<exchange::IPort> Open(const std::string&, int, char, int, int, bool,
                                          bool) override {
        m_log.Add("open");
        return std::make_unique<LoggedPort>(m_log, onWrite);
    }
    std::function<void()> onWrite;

private:
    EventLog& m_log;
};

// A session manager's request, answered as the test says.
class FakeSessionEnd : public ISessionEndRequest {
public:
    bool AllowsErrorInteraction() override {
        ++asked;
        return allows;
    }
    void Cancel() override { ++cancels; }
    void Release() override { ++releases; }
    bool allows = true;
    int asked = 0;
    int cancels = 0;
    int releases = 0;
};

}  // namespace

class UpdaterDlgTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SetMessageBoxHook({}); }

    void declinedWarningEndsBeforeTheDialogShows_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("No") << IDNO;
        QTest::newRow("closed") << IDCANCEL;
    }

    void declinedWarningEndsBeforeTheDialogShows() {
        QFETCH(int, answer);
        BoxAnswerer boxes(answer);
        CUpdaterDlg dlg;
        bool dialogShownDuringWarning = true;
        boxes.whileShown = [&](const SeenBox&) { dialogShownDuringWarning = dlg.isVisible(); };
        QCOMPARE(dlg.DoModal(), IDCANCEL);
        QCOMPARE(dialogShownDuringWarning, false);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
        const SeenBox& warning = boxes.boxes[0];
        QCOMPARE(warning.caption, QString::fromStdString(ApplicationTitle()));
        QCOMPARE(warning.caption, QStringLiteral("updater_dlg_test"));
        QCOMPARE(warning.text, kStartupWarning);
        QCOMPARE(warning.icon, QMessageBox::Information);
        QCOMPARE(warning.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(warning.defaultButton, QMessageBox::No);
    }

    void enterOnTheRealWarningAnswersNo() {
        CUpdaterDlg dlg;
        bool came = false;
        WhenModalUp<QMessageBox>(
            this, [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }, &came);
        QCOMPARE(dlg.DoModal(), IDCANCEL);
        QVERIFY(came);
        QVERIFY(!dlg.isVisible());
    }

    void endingTheDialog_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::newRow("EXIT") << "exit" << IDOK;
        QTest::newRow("Enter on EXIT") << "enter" << IDOK;
        QTest::newRow("Escape") << "escape" << IDCANCEL;
        QTest::newRow("close button") << "close" << IDCANCEL;
    }

    void endingTheDialog() {
        QFETCH(QString, how);
        QFETCH(int, result);
        BoxAnswerer boxes(IDYES);
        CUpdaterDlg dlg;
        bool wasVisible = false;
        QTimer::singleShot(0, &dlg, [&] {
            wasVisible = dlg.isVisible();
            QWidget* exit = dlg.Control(IDC_EXIT);
            if (how == "exit") {
                QTest::mouseClick(exit, Qt::LeftButton);
            } else if (how == "enter") {
                QTest::keyClick(dlg.focusWidget() ? dlg.focusWidget() : exit, Qt::Key_Return);
            } else if (how == "escape") {
                QTest::keyClick(exit, Qt::Key_Escape);
            } else {
                dlg.close();
            }
        });
        QCOMPARE(dlg.DoModal(), result);
        QVERIFY(wasVisible);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
    }

    void initialisationWritesListTextsAndStates() {
        BoxAnswerer boxes(IDYES);
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();

        QComboBox* ports = Ports(dlg);
        QCOMPARE(ports->count(), 256);
        for (int i = 0; i < ports->count(); ++i) {
            QCOMPARE(ports->itemText(i), QStringLiteral("COM%1").arg(i + 1));
        }
        QCOMPARE(ports->currentIndex(), 0);
        QCOMPARE(ports->currentText(), QStringLiteral("COM1"));

        if (TR_PLACEHOLDER_FIRMWARE) {
            QCOMPARE(CarriedVersion(), QStringLiteral("1.10"));
        }
        QCOMPARE(dlg.windowTitle(), "TR-520/521 CPU Update Utility " + CarriedVersion());
        QCOMPARE(Label(dlg, IDC_VERSION)->text(),
                 "SCANNER VERSION: ?.?\nUPDATER VERSION: " + CarriedVersion());
        QStringList texts;
        for (const QLabel* label : dlg.findChildren<QLabel*>()) {
            texts.append(label->text());
        }
        for (const QString& step : {kStep1, kStep2, kStep3}) {
            QVERIFY2(texts.contains(step), qPrintable(step));
        }
        QCOMPARE(Label(dlg, IDC_STEP4)->text(), kStep4 + " " + CarriedVersion() + " ");
        QCOMPARE(Label(dlg, IDC_COMPLETE)->text(), kCompletion);
        QCOMPARE(GetLogBaseName(), std::string("TR-520_521"));

        QVERIFY(Button(dlg, IDC_TEST)->isEnabled());
        QVERIFY(!Button(dlg, IDC_UPDATE)->isEnabled());
        QVERIFY(ports->isEnabled());
        QVERIFY(Label(dlg, IDC_COMPLETE)->isHidden());
        QVERIFY(Button(dlg, IDC_EXIT)->isDefault());
        QCOMPARE(Button(dlg, IDC_EXIT)->text(), QStringLiteral("EXIT"));
        QVERIFY(!dlg.windowIcon().isNull());
        QVERIFY(!(dlg.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
    }

    void tabOrderFollowsTheTemplate() {
        BoxAnswerer boxes(IDYES);
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(QApplication::focusWidget(), dlg.Control(IDC_EXIT));
        // UPDATE is disabled, so Tab skips it.
        const int expected[] = {IDC_COMPORT, IDC_TEST, IDC_EXIT};
        for (const int id : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), dlg.Control(id));
        }
    }

    void layoutKeepsProportionsAndClipsNoText() {
        BoxAnswerer boxes(IDYES);
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        const DialogUnits units(dlg.font());
        QCOMPARE(dlg.width(), units.X(343));
        QCOMPARE(dlg.height(), units.Y(236));
        QCOMPARE(dlg.Control(IDC_TEST)->geometry(), units.Rect(261, 112, 65, 14));
        QCOMPARE(dlg.Control(IDC_VERSION)->geometry(), units.Rect(7, 6, 329, 24));
        QCOMPARE(dlg.Control(IDC_COMPORT)->pos(), QPoint(units.X(261), units.Y(82)));
        VerifyNoTextClipped(dlg);
        CAboutDlg about(&dlg);
        VerifyNoTextClipped(about);
    }

    void helpKeyOpensNothing() {
        BoxAnswerer boxes(IDYES);
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        const auto windowsBefore = QApplication::topLevelWidgets().size();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
        QVERIFY(dlg.isVisible());
    }

    void systemCommandsOpenTheAboutBox_data() {
        QTest::addColumn<unsigned>("id");
        QTest::addColumn<bool>("opens");
        QTest::newRow("16, the About item") << 16u << true;
        QTest::newRow("17") << 17u << true;
        QTest::newRow("31") << 31u << true;
        QTest::newRow("15") << 15u << false;
        QTest::newRow("32") << 32u << false;
        QTest::newRow("move") << 0xF010u << false;
        QTest::newRow("close") << 0xF060u << false;
    }

    void systemCommandsOpenTheAboutBox() {
        QFETCH(unsigned, id);
        QFETCH(bool, opens);
        BoxAnswerer boxes(IDYES);
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        bool came = false;
        QString caption;
        QString versionLine;
        if (opens) {
            WhenModalUp<CAboutDlg>(
                this,
                [&](CAboutDlg* about) {
                    caption = about->windowTitle();
                    versionLine = qobject_cast<QLabel*>(about->findChild<QWidget*>(
                                                            QString::number(IDC_ABOUT_VERSION)))
                                      ->text();
                    // The box is modal before the window system has activated it.
                    QTRY_COMPARE(QApplication::focusWidget(),
                                 about->findChild<QWidget*>(QString::number(IDOK)));
                    QTest::keyClick(about, Qt::Key_Escape);
                },
                &came);
        }
        QCOMPARE(dlg.OnSysCommand(id), opens);
        QCOMPARE(came, opens);
        if (opens) {
            QCOMPARE(caption, QStringLiteral("About the TR-520/521 CPU Update Utility"));
            QCOMPARE(versionLine, "TR-520/521 CPU Update Utility " + CarriedVersion());
        }
        QVERIFY(dlg.isVisible());
    }

    void contextMenuOffersTheAboutItem() {
        BoxAnswerer boxes(IDYES);
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        std::unique_ptr<QMenu> menu(dlg.CreateSystemMenu());
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions()[0]->text(),
                 QStringLiteral("&About the TRX-521 CPU Update Utility..."));
        bool came = false;
        WhenModalUp<CAboutDlg>(
            this,
            [](CAboutDlg* about) {
                QTest::mouseClick(about->findChild<QWidget*>(QString::number(IDOK)),
                                  Qt::LeftButton);
            },
            &came);
        menu->actions()[0]->trigger();
        QVERIFY(came);
    }

    void hiddenMessageNeedsCtrlAltShiftF3_data() {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("shows");
        QTest::newRow("none") << int(Qt::NoModifier) << false;
        QTest::newRow("Ctrl") << int(Qt::ControlModifier) << false;
        QTest::newRow("Alt") << int(Qt::AltModifier) << false;
        QTest::newRow("Shift") << int(Qt::ShiftModifier) << false;
        QTest::newRow("Ctrl+Alt") << int(Qt::ControlModifier | Qt::AltModifier) << false;
        QTest::newRow("Ctrl+Shift") << int(Qt::ControlModifier | Qt::ShiftModifier) << false;
        QTest::newRow("Alt+Shift") << int(Qt::AltModifier | Qt::ShiftModifier) << false;
        QTest::newRow("Ctrl+Alt+Shift")
            << int(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier) << true;
    }

    void hiddenMessageNeedsCtrlAltShiftF3() {
        QFETCH(int, modifiers);
        QFETCH(bool, shows);
        BoxAnswerer boxes(IDYES);
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(boxes.boxes.size(), std::size_t{shows ? 2u : 1u});
        if (shows) {
            const SeenBox& box = boxes.boxes[1];
            QCOMPARE(box.text, QString::fromStdString(HiddenMessageText(g_storedTexts)));
            QVERIFY(box.text.endsWith("!\n\n"));
            QCOMPARE(box.text.count("\n\n"), 4);
            QCOMPARE(box.icon, QMessageBox::Information);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QCOMPARE(box.caption, QStringLiteral("updater_dlg_test"));
        }
    }

    void progressWindowIsCentredModelessWithoutCloseBox() {
        BoxAnswerer boxes(IDYES);
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        dlg.move(123, 77);
        std::unique_ptr<exchange::IProgressWindow> window = dlg.CreateProgressWindow();
        QPointer<CProgressDlg> progress = dynamic_cast<CProgressDlg*>(window.get());
        QVERIFY(progress != nullptr);
        QVERIFY(progress->isVisible());
        QVERIFY(!progress->isModal());
        QVERIFY(!(progress->windowFlags() & Qt::WindowCloseButtonHint));
        QCOMPARE(progress->pos(), CenteredTopLeft(WindowRectOf(dlg), WindowRectOf(*progress)));
        QCOMPARE(progress->m_progress->objectName(), QStringLiteral("6000"));
        window->SetRange32(0, 59862);
        window->SetCaption("Upgrading CPU");
        window->SetPos(240);
        QCOMPARE(progress->windowTitle(), QStringLiteral("Upgrading CPU"));
        QCOMPARE(progress->m_progress->value(), 240);
        QCOMPARE(progress->m_progress->maximum(), 59862);
        window.reset();
        QVERIFY(progress.isNull());
    }

    void inputDuringAnExchangeIsDiscarded() {
        BoxAnswerer boxes(IDOK);
        boxes.Queue(IDYES);  // the start-up warning
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        auto opener = std::make_unique<CountingOpener>();
        CountingOpener* seen = opener.get();
        bool injected = false;
        QWidget* test = dlg.Control(IDC_TEST);
        seen->onPortCall = [&] {
            if (injected) {
                return;
            }
            injected = true;
            // Delivered at once, and queued for later dispatch: neither may reach the dialog.
            QTest::mouseClick(test, Qt::LeftButton);
            QTest::keyClick(&dlg, Qt::Key_Escape);
            dlg.close();
            const QPointF centre = QRectF(test->rect()).center();
            QCoreApplication::postEvent(
                test, new QMouseEvent(QEvent::MouseButtonPress, centre, test->mapToGlobal(centre),
                                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
            QCoreApplication::postEvent(
                test, new QMouseEvent(QEvent::MouseButtonRelease, centre, test->mapToGlobal(centre),
                                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
            QCoreApplication::postEvent(&dlg, new QCloseEvent);
        };
        dlg.SetExchangeServices(std::move(opener), std::make_unique<FakeClock>());
        Ports(dlg)->setCurrentIndex(3);

        QTest::mouseClick(test, Qt::LeftButton);
        QCoreApplication::processEvents();
        QVERIFY(injected);
        QCOMPARE(seen->opens, 1);
        QCOMPARE(seen->names[0], std::string("\\\\.\\COM4"));
        QCOMPARE(dlg.m_nPortIndex, 3);
        QVERIFY(dlg.isVisible());
        QCOMPARE(boxes.boxes.size(), std::size_t{2});
        QCOMPARE(boxes.boxes[1].text,
                 QStringLiteral("No data from the scanner. Please retry from step 1"));
        QCOMPARE(boxes.boxes[1].icon, QMessageBox::Warning);

        // Once the exchange is over, input reaches the dialog again.
        QTest::mouseClick(test, Qt::LeftButton);
        QCOMPARE(seen->opens, 2);
    }

    void messageBoxButtonsWorkDuringAnExchange() {
        BoxAnswerer startup(IDYES);
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        SetMessageBoxHook({});
        dlg.show();
        auto opener = std::make_unique<CountingOpener>();
        dlg.SetExchangeServices(std::move(opener), std::make_unique<FakeClock>());
        bool came = false;
        QString text;
        WhenModalUp<QMessageBox>(
            this,
            [&](QMessageBox* box) {
                text = box->text();
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            },
            &came);
        dlg.OnTest();
        QVERIFY(came);
        QCOMPARE(text, QStringLiteral("No data from the scanner. Please retry from step 1"));
    }

    void pressesDuringAnExchangeStartNothing() {
        BoxAnswerer boxes(IDOK);
        boxes.Queue(IDYES);  // the start-up warning
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        auto opener = std::make_unique<ScriptedScannerOpener>();
        ScriptedScannerOpener* seen = opener.get();
        int writes = 0;
        int pressAtWrite = 1;  // TEST's first query
        int opensDuringPresses = -1;
        opener->onWrite = [&] {
            if (++writes != pressAtWrite) {
                return;
            }
            const int opens = seen->opens;
            AccessiblePress(dlg.Control(IDC_TEST));
            AccessiblePress(dlg.Control(IDC_UPDATE));
            dlg.OnTest();
            dlg.OnUpdate();
            opensDuringPresses = seen->opens - opens;
        };
        dlg.SetExchangeServices(std::move(opener), std::make_unique<FakeClock>());
        Ports(dlg)->setCurrentIndex(2);

        QTest::mouseClick(dlg.Control(IDC_TEST), Qt::LeftButton);
        QCOMPARE(opensDuringPresses, 0);
        QCOMPARE(seen->opens, 1);
        QCOMPARE(dlg.m_nPortIndex, 2);
        QCOMPARE(boxes.boxes.size(), std::size_t{2});
        QCOMPARE(boxes.boxes[1].text, kOffer);
        QVERIFY(Button(dlg, IDC_UPDATE)->isEnabled());
        // An accessibility press lets its button go 100 ms later; by then TEST is disabled.
        QTest::qWait(250);
        QCOMPARE(seen->opens, 1);

        // During UPDATE, after the start packet and a few data packets.
        writes = 0;
        pressAtWrite = 5;
        opensDuringPresses = -1;
        Ports(dlg)->setCurrentIndex(6);  // a nested TEST would store it
        QTest::mouseClick(dlg.Control(IDC_UPDATE), Qt::LeftButton);
        QCOMPARE(opensDuringPresses, 0);
        QCOMPARE(seen->opens, 2);
        QCOMPARE(dlg.m_nPortIndex, 2);
        QCOMPARE(boxes.boxes.size(), std::size_t{2});
        QVERIFY(Label(dlg, IDC_COMPLETE)->isVisible());
        QVERIFY(Button(dlg, IDC_TEST)->isEnabled());
        QVERIFY(!Button(dlg, IDC_UPDATE)->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QTest::qWait(250);
        QCOMPARE(seen->opens, 2);

        // Once it is over, TEST starts again.
        QTest::mouseClick(dlg.Control(IDC_TEST), Qt::LeftButton);
        QCOMPARE(seen->opens, 3);
        QCOMPARE(dlg.m_nPortIndex, 6);
    }

    void testThenUpdateThroughTheDialog() {
        BoxAnswerer boxes(IDOK);
        boxes.Queue(IDYES);  // the start-up warning
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        auto opener = std::make_unique<ScriptedScannerOpener>();
        QStringList captions;
        int highestPosition = 0;
        opener->onWrite = [&] {
            if (auto* progress = dlg.findChild<CProgressDlg*>()) {
                QVERIFY(progress->isVisible());
                if (captions.isEmpty() || captions.back() != progress->windowTitle()) {
                    captions.append(progress->windowTitle());
                }
                highestPosition = std::max(highestPosition, progress->m_progress->value());
            }
        };
        dlg.SetExchangeServices(std::move(opener), std::make_unique<FakeClock>());

        QTest::mouseClick(dlg.Control(IDC_TEST), Qt::LeftButton);
        QCOMPARE(boxes.boxes.size(), std::size_t{2});
        QCOMPARE(boxes.boxes[1].text, kOffer);
        QCOMPARE(Label(dlg, IDC_VERSION)->text(), "\nUPDATER VERSION: " + CarriedVersion());
        QVERIFY(!Button(dlg, IDC_TEST)->isEnabled());
        QVERIFY(Button(dlg, IDC_UPDATE)->isEnabled());
        QVERIFY(!Ports(dlg)->isEnabled());

        QTest::mouseClick(dlg.Control(IDC_UPDATE), Qt::LeftButton);
        QCOMPARE(boxes.boxes.size(), std::size_t{2});
        QCOMPARE(captions, QStringList{"Upgrading CPU"});
        // The bar stands at the last full packet at least when the last packet is sent.
        const int lastFull = static_cast<int>((g_carriedFirmware.imageLength - 1) / 120 * 120);
        QVERIFY(highestPosition >= lastFull);
        QVERIFY(dlg.findChild<CProgressDlg*>() == nullptr);
        QVERIFY(Label(dlg, IDC_COMPLETE)->isVisible());
        QVERIFY(Button(dlg, IDC_TEST)->isEnabled());
        QVERIFY(!Button(dlg, IDC_UPDATE)->isEnabled());
        QVERIFY(Ports(dlg)->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void theHoldSpansTheUploadAndTestTakesNone() {
        BoxAnswerer boxes(IDOK);
        boxes.Queue(IDYES);  // the start-up warning
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        EventLog log;
        auto opener = std::make_unique<LoggedOpener>(log);
        LoggedOpener* seen = opener.get();
        dlg.SetExchangeServices(std::move(opener), std::make_unique<FakeClock>());
        auto hold = std::make_unique<RecordingKeepAwake>(log);
        bool controlsResetAtEnd = false;
        hold->onEnd = [&] {
            controlsResetAtEnd = Button(dlg, IDC_TEST)->isEnabled() &&
                                 !Button(dlg, IDC_UPDATE)->isEnabled() && Ports(dlg)->isEnabled();
        };
        dlg.SetKeepAwake(std::move(hold));
        dlg.SetKeepAwake(nullptr);  // ignored: the recording hold stays

        QTest::mouseClick(dlg.Control(IDC_TEST), Qt::LeftButton);
        QCOMPARE(log.events, (QStringList{"open", "close"}));
        QVERIFY(Button(dlg, IDC_UPDATE)->isEnabled());

        log.events.clear();
        bool nestedPressDone = false;
        seen->onWrite = [&] {
            if (!nestedPressDone) {  // a press that gets through mid-upload takes no hold
                nestedPressDone = true;
                dlg.OnUpdate();
            }
        };
        QTest::mouseClick(dlg.Control(IDC_UPDATE), Qt::LeftButton);
        QVERIFY(nestedPressDone);
        QCOMPARE(log.events, (QStringList{"begin", "open", "close", "end"}));
        QVERIFY2(controlsResetAtEnd, "the hold lasts until the clean-up has reset the controls");
        QVERIFY(Label(dlg, IDC_COMPLETE)->isVisible());
    }

    void logOutIsRefusedOnlyDuringAnExchange_data() {
        QTest::addColumn<QString>("when");
        QTest::addColumn<bool>("allows");
        QTest::addColumn<bool>("refused");
        QTest::newRow("no exchange") << "idle" << true << false;
        QTest::newRow("during TEST") << "test" << true << true;
        QTest::newRow("during UPDATE") << "update" << true << true;
        QTest::newRow("during UPDATE, no leave to interact") << "update" << false << false;
    }

    void logOutIsRefusedOnlyDuringAnExchange() {
        QFETCH(QString, when);
        QFETCH(bool, allows);
        QFETCH(bool, refused);
        BoxAnswerer boxes(IDOK);
        boxes.Queue(IDYES);  // the start-up warning
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        auto opener = std::make_unique<ScriptedScannerOpener>();
        ScriptedScannerOpener* seen = opener.get();
        dlg.SetExchangeServices(std::move(opener), std::make_unique<FakeClock>());
        FakeSessionEnd request;
        request.allows = allows;
        int answers = 0;
        bool answer = false;
        auto askOnce = [&] {
            if (answers++ == 0) {
                answer = dlg.OnSessionEndRequest(request);
            }
        };
        if (when == "test") {
            seen->onWrite = askOnce;
        }
        dlg.OnTest();
        if (when == "update") {
            seen->onWrite = askOnce;
            dlg.OnUpdate();
            QVERIFY2(Label(dlg, IDC_COMPLETE)->isVisible(), "the upload ran to its end");
        }
        if (when == "idle") {
            askOnce();
        }
        QCOMPARE(answers > 0, true);
        QCOMPARE(answer, refused);
        QCOMPARE(request.cancels, refused ? 1 : 0);
        QCOMPARE(request.releases, refused ? 1 : 0);
        QCOMPARE(request.asked, when == "idle" ? 0 : 1);
    }
};

QTEST_MAIN(UpdaterDlgTest)
#include "updater_dlg_test.moc"
