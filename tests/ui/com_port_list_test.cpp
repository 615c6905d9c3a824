// The COM port list names each number's device in a tooltip and marks the present ones, taken
// afresh whenever the list opens; its texts, order and selection stay as they were.
#include "com_port_list.h"

#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QFont>
#include <QHelpEvent>
#include <QImage>
#include <QPainter>
#include <QtTest>
#include <filesystem>
#include <optional>

#include "com_port_names.h"
#include "resource.h"
#include "ui_test_support.h"
#include "updater_dlg.h"

namespace fs = std::filesystem;

namespace {

bool IsMarked(const QComboBox& list, int index) {
    const QVariant font = list.itemData(index, Qt::FontRole);
    return font.isValid() && qvariant_cast<QFont>(font).bold();
}

QString Tip(const QComboBox& list, int index) {
    return list.itemData(index, Qt::ToolTipRole).toString();
}

QString LinkText(int comNumber) {
    return QString::fromStdString(comports::PortLinkPath(comNumber).string());
}

// The pixels that the open list's delegate darkens when it draws the entry.
int InkOfEntry(const QComboBox& list, int row) {
    QAbstractItemView* view = list.view();
    const QModelIndex index = view->model()->index(row, list.modelColumn());
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.rect = QRect(QPoint(0, 0), view->itemDelegate()->sizeHint(option, index));
    QImage image(option.rect.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    view->itemDelegate()->paint(&painter, option, index);
    painter.end();
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ink += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
        }
    }
    return ink;
}

}  // namespace

class ComPortListTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (const char* old = getenv("XDG_CONFIG_HOME")) {
            m_saved = old;
        }
        m_config = fs::temp_directory_path() / ("com_port_list_test_" + std::to_string(getpid()));
        fs::remove_all(m_config);
        setenv("XDG_CONFIG_HOME", m_config.c_str(), 1);
        fs::create_directories(comports::PortLinkDirectory());
        char name[256] = {};
        QCOMPARE(openpty(&m_master, &m_slave, name, nullptr, nullptr), 0);
        m_pty = QString::fromUtf8(name);
    }

    void cleanup() {
        SetMessageBoxHook({});
        m_saved ? setenv("XDG_CONFIG_HOME", m_saved->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
        m_saved.reset();
        ClosePty();
        fs::remove_all(m_config);
    }

    void entriesNameTheirDevicesAndMarkThePresentOnes() {
        fs::create_symlink(m_pty.toStdString(), comports::PortLinkPath(7));
        fs::create_symlink("/nonexistent/ttyUSB99", comports::PortLinkPath(8));
        BoxAnswerer boxes(IDYES);
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        auto* ports = qobject_cast<QComboBox*>(dlg.Control(IDC_COMPORT));

        QCOMPARE(ports->count(), 256);
        QCOMPARE(ports->itemText(6), QStringLiteral("COM7"));
        QVERIFY(IsMarked(*ports, 6));
        QCOMPARE(Tip(*ports, 6),
                 "COM7: " + m_pty + " (per-user link " + LinkText(7) + "), present");
        QVERIFY(!IsMarked(*ports, 7));
        QCOMPARE(Tip(*ports, 7),
                 "COM8: /nonexistent/ttyUSB99 (per-user link " + LinkText(8) + "), not present");
        QCOMPARE(Tip(*ports, 33), QStringLiteral("COM34: /dev/ttyUSB1, not present"));
        QCOMPARE(Tip(*ports, 149), "COM150: no device (a link " + LinkText(150) + " can name one)");

        // The open list draws the marked entry in bold: more ink than its unmarked neighbour.
        ports->showPopup();
        const int marked = InkOfEntry(*ports, 6);
        const int unmarked = InkOfEntry(*ports, 7);
        QVERIFY2(marked > unmarked, qPrintable(QString("%1 %2").arg(marked).arg(unmarked)));
        ports->hidePopup();

        // The list's own tooltip is the selected entry's.
        QCOMPARE(ports->currentIndex(), 0);
        QCOMPARE(ports->toolTip(), Tip(*ports, 0));
        ports->setCurrentIndex(7);
        QCOMPARE(ports->toolTip(), Tip(*ports, 7));
    }

    void marksAreTakenAfreshEachTimeTheListOpens() {
        BoxAnswerer boxes(IDYES);
        CUpdaterDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        dlg.show();
        auto* ports = qobject_cast<QComboBox*>(dlg.Control(IDC_COMPORT));
        ports->setCurrentIndex(11);
        QVERIFY(!IsMarked(*ports, 11));

        // The cable is plugged in after start-up.
        fs::create_symlink(m_pty.toStdString(), comports::PortLinkPath(12));
        QVERIFY2(!IsMarked(*ports, 11), "nothing is watched while the list is shut");
        ports->showPopup();
        QVERIFY(IsMarked(*ports, 11));
        QVERIFY(Tip(*ports, 11).endsWith(", present"));
        QCOMPARE(ports->toolTip(), Tip(*ports, 11));
        ports->hidePopup();

        // And pulled again: hovering over the list drops the mark, and so does opening it.
        fs::remove(comports::PortLinkPath(12));
        fs::create_symlink("/nonexistent/ttyUSB98", comports::PortLinkPath(12));
        QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), ports->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(ports, &hover);
        QVERIFY(!IsMarked(*ports, 11));
        QVERIFY(ports->toolTip().endsWith(", not present"));
        ports->showPopup();
        QVERIFY(!IsMarked(*ports, 11));
        ports->hidePopup();

        QCOMPARE(ports->currentIndex(), 11);
        for (int i = 0; i < ports->count(); ++i) {
            QCOMPARE(ports->itemText(i), QStringLiteral("COM%1").arg(i + 1));
        }
    }

private:
    void ClosePty() {
        for (int* fd : {&m_master, &m_slave}) {
            if (*fd >= 0) {
                close(*fd);
                *fd = -1;
            }
        }
    }

    fs::path m_config;
    std::optional<std::string> m_saved;
    QString m_pty;
    int m_master = -1;
    int m_slave = -1;
};

QTEST_MAIN(ComPortListTest)
#include "com_port_list_test.moc"
