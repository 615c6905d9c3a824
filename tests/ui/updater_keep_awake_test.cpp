// UPDATE holds a logind inhibitor lock from its start to its clean-up, however it ends; TEST
// holds none. Against a private bus with a stand-in for logind; the dialog's own hold.
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "fake_login1.h"
#include "resource.h"
#include "ui_test_support.h"
#include "updater_dlg.h"

namespace {

// Opens the ports a factory makes; onOpen runs first, as the upload reaches the port.
class FactoryOpener : public exchange::IPortOpener {
public:
    std::unique_ptr<exchange::IPort> Open(const std::string&, int, char, int, int, bool,
                                          bool) override {
        if (onOpen) {
            onOpen();
        }
        return make();
    }
    std::function<void()> onOpen;
    std::function<std::unique_ptr<exchange::IPort>()> make;
};

// A scanner that sends its ready byte, and a cable that fails the first write with an
// exception of its own.
class ThrowingPort : public exchange::IPort {
public:
    int BytesWaiting() override { return m_ready ? 1 : 0; }
    int Read(void* buffer, int, int) override {
        *static_cast<std::uint8_t*>(buffer) = 'C';
        m_ready = false;
        return 1;
    }
    int Write(const void*, int, int) override { throw std::runtime_error("cable gone"); }
    void DrainInput() override {}

private:
    bool m_ready = true;
};

}  // namespace

class UpdaterKeepAwakeTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<SystemBusAddress> m_address;
    std::unique_ptr<FakeLogin1> m_logind;

    // A dialog after a TEST that offered the upload, with the opener UPDATE will use.
    std::unique_ptr<CUpdaterDlg> DialogReadyToUpdate(
        BoxAnswerer& boxes, std::unique_ptr<exchange::IPortOpener> opener) {
        auto dlg = std::make_unique<CUpdaterDlg>();
        boxes.Queue(IDYES);  // the start-up warning
        if (!dlg->OnInitDialog()) {
            return nullptr;
        }
        dlg->show();
        dlg->SetExchangeServices(std::make_unique<ScriptedScannerOpener>(),
                                 std::make_unique<FakeClock>());
        dlg->OnTest();
        dlg->SetExchangeServices(std::move(opener), std::make_unique<FakeClock>());
        return dlg;
    }

private slots:
    void initTestCase() {
        m_bus = std::make_unique<PrivateBus>();
        if (!m_bus->IsRunning()) {
            QSKIP(m_bus->Failure().c_str());
        }
        m_address = std::make_unique<SystemBusAddress>(m_bus->Address());
    }

    void init() {
        m_logind = std::make_unique<FakeLogin1>(m_bus->Address());
        QVERIFY(m_logind->Ready());
    }

    void cleanup() {
        m_logind.reset();
        SetMessageBoxHook({});
    }

    void cleanupTestCase() {
        m_address.reset();
        m_bus.reset();
    }

    void theLockSpansTheUploadHoweverItEnds_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("message");
        QTest::newRow("success") << "success" << QString();
        QTest::newRow("failure") << "failure"
                                 << "No data from the scanner. Please retry from step 4";
        QTest::newRow("exception") << "exception" << QString();
    }

    void theLockSpansTheUploadHoweverItEnds() {
        QFETCH(QString, ending);
        QFETCH(QString, message);
        BoxAnswerer boxes(IDOK);
        auto opener = std::make_unique<FactoryOpener>();
        int heldAtOpen = -1;
        opener->onOpen = [&] {
            heldAtOpen = m_logind->Calls().size() == 1 && m_logind->IsHeld(0) ? 1 : 0;
        };
        opener->make = [&]() -> std::unique_ptr<exchange::IPort> {
            if (ending == "success") {
                return std::make_unique<ScriptedScannerPort>(OlderScannerDigits(), nullptr);
            }
            if (ending == "failure") {
                return std::make_unique<SilentPort>(nullptr);
            }
            return std::make_unique<ThrowingPort>();
        };
        auto dlg = DialogReadyToUpdate(boxes, std::move(opener));
        QVERIFY(dlg != nullptr);
        QCOMPARE(m_logind->Calls().size(), std::size_t{0});  // TEST holds nothing
        const std::size_t boxesBefore = boxes.boxes.size();
        int heldDuringMessage = -1;
        boxes.whileShown = [&](const SeenBox&) { heldDuringMessage = m_logind->IsHeld(0); };

        dlg->OnUpdate();

        QCOMPARE(heldAtOpen, 1);
        const auto calls = m_logind->Calls();
        QCOMPARE(calls.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(calls[0].what),
                 QStringLiteral("shutdown:sleep:idle:handle-lid-switch:handle-suspend-key:"
                                "handle-hibernate-key"));
        QCOMPARE(QString::fromStdString(calls[0].who),
                 QStringLiteral("TR-520/521 CPU Update Utility"));
        QCOMPARE(QString::fromStdString(calls[0].why),
                 QStringLiteral("Updating the scanner's firmware"));
        QCOMPARE(QString::fromStdString(calls[0].mode), QStringLiteral("block"));
        QVERIFY(m_logind->AwaitReleased(0, 2000));
        if (message.isEmpty()) {
            QCOMPARE(boxes.boxes.size(), boxesBefore);
        } else {
            QCOMPARE(boxes.boxes.size(), boxesBefore + 1);
            QCOMPARE(boxes.boxes.back().text, message);
            QCOMPARE(heldDuringMessage, 1);  // the clean-up comes after the message
        }
        QCOMPARE(qobject_cast<QLabel*>(dlg->Control(IDC_COMPLETE))->isVisible(),
                 ending == "success");
        QVERIFY(dlg->Control(IDC_TEST)->isEnabled());
        QVERIFY(!dlg->Control(IDC_UPDATE)->isEnabled());
    }

    // A system bus that takes the connection and never answers delays the upload by the hold's
    // 5 s at most, the dialog painted meanwhile; the upload then goes on without the hold (the
    // line on stderr that says so is keep_awake_logind_test's).
    void aSilentBusDelaysTheUploadByAtMostItsLimit() {
        SilentBus silent;
        QVERIFY(!silent.Address().empty());
        const SystemBusAddress address(silent.Address());
        BoxAnswerer boxes(IDOK);
        auto opener = std::make_unique<FactoryOpener>();
        QElapsedTimer sinceClick;
        qint64 openedAfterMs = -1;
        int ticks = 0;
        int ticksAtOpen = -1;
        opener->onOpen = [&] {
            openedAfterMs = sinceClick.elapsed();
            ticksAtOpen = ticks;
        };
        opener->make = [] {
            return std::make_unique<ScriptedScannerPort>(OlderScannerDigits(), nullptr);
        };
        auto dlg = DialogReadyToUpdate(boxes, std::move(opener));
        QVERIFY(dlg != nullptr);
        // Runs whenever the dialog's queued work is let run, as its painting is.
        QTimer painter;
        QObject::connect(&painter, &QTimer::timeout, [&] { ++ticks; });
        painter.start(50);

        sinceClick.start();
        dlg->OnUpdate();

        QVERIFY2(openedAfterMs >= 4900, qPrintable(QString::number(openedAfterMs)));
        QVERIFY2(openedAfterMs < 6000, qPrintable(QString::number(openedAfterMs)));
        QVERIFY2(ticksAtOpen >= 40, qPrintable(QString::number(ticksAtOpen)));
        QVERIFY(qobject_cast<QLabel*>(dlg->Control(IDC_COMPLETE))->isVisible());
    }
};

QTEST_MAIN(UpdaterKeepAwakeTest)
#include "updater_keep_awake_test.moc"
