// TEST then UPDATE through the real dialog, real serial code and real clock, against the
// simulated scanner on a pseudo-terminal published as COM7.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "firmware_payload.h"
#include "port_lock.h"
#include "progress_dlg.h"
#include "resource.h"
#include "scanner_sim.h"
#include "ui_test_support.h"
#include "updater_dlg.h"

namespace {

constexpr int kComNumber = 7;

// Counts paints of the progress bar and remembers its captions and highest position.
class ProgressWatcher : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            if (auto* bar = qobject_cast<QProgressBar*>(watched);
                bar != nullptr && qobject_cast<CProgressDlg*>(bar->window()) != nullptr) {
                ++paints;
                highest = std::max(highest, bar->value());
                const QString caption = bar->window()->windowTitle();
                if (captions.isEmpty() || captions.back() != caption) {
                    captions.append(caption);
                }
            }
        }
        return false;
    }
    int paints = 0;
    int highest = 0;
    QStringList captions;
};

}  // namespace

class UpdaterEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        // Lock files go to the test's own directory, not the system's.
        portlock::SetLockDirectories({m_config.path().toStdString()});
    }
    void cleanupTestCase() { portlock::SetLockDirectories({}); }

    void testThenUpdateAgainstTheSimulatedScanner() {
        scannersim::Options options;
        options.comNumber = kComNumber;
        options.versionDigits = OlderScannerDigits();
        options.deviceLike = true;  // a line that echoes while its settings say so
        scannersim::ScannerSim scanner(options);
        std::string error;
        QVERIFY2(scanner.Start(&error), error.c_str());

        BoxAnswerer boxes(IDOK);
        boxes.Queue(IDYES);  // the start-up warning
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        qobject_cast<QComboBox*>(dlg.Control(IDC_COMPORT))->setCurrentIndex(kComNumber - 1);

        QTest::mouseClick(dlg.Control(IDC_TEST), Qt::LeftButton);
        QCOMPARE(boxes.boxes.size(), std::size_t{2});
        QCOMPARE(boxes.boxes[1].text,
                 "This update utility contains version " + CarriedVersion() + ".");
        QCOMPARE(dlg.m_nScannerVersion, g_carriedFirmware.VersionByte() - 1);
        QVERIFY(dlg.Control(IDC_UPDATE)->isEnabled());
        QVERIFY(!dlg.Control(IDC_TEST)->isEnabled());

        ProgressWatcher watcher;
        QApplication::instance()->installEventFilter(&watcher);
        QTest::mouseClick(dlg.Control(IDC_UPDATE), Qt::LeftButton);
        QApplication::instance()->removeEventFilter(&watcher);

        QCOMPARE(boxes.boxes.size(), std::size_t{2});
        QVERIFY(dlg.Control(IDC_COMPLETE)->isVisible());
        QVERIFY(dlg.Control(IDC_TEST)->isEnabled());
        QVERIFY(!dlg.Control(IDC_UPDATE)->isEnabled());
        QVERIFY(dlg.Control(IDC_COMPORT)->isEnabled());

        // The progress window was painted while the upload ran, and its bar moved.
        QVERIFY2(watcher.paints > 2, qPrintable(QString::number(watcher.paints)));
        QVERIFY(watcher.highest > 0);
        QVERIFY(watcher.captions.contains("Upgrading CPU"));

        QVERIFY(scanner.WaitFinished(scannersim::Ms(5000)));
        const scannersim::Summary summary = scanner.GetSummary();
        QVERIFY(summary.completeCorrectUpload);
        QCOMPARE(summary.packets, static_cast<int>((g_carriedFirmware.imageLength + 119) / 120));
        QVERIFY2(summary.unexpectedBytes == 0, scannersim::FormatSummary(summary).c_str());
        QVERIFY2(summary.problems.empty(),
                 summary.problems.empty() ? "" : summary.problems.front().c_str());
    }

private:
    QTemporaryDir m_config;
};

QTEST_MAIN(UpdaterEndToEndTest)
#include "updater_end_to_end_test.moc"
