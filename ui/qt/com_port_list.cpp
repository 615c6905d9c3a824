#include "com_port_list.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QFont>
#include <QSignalBlocker>

namespace {

void MarkEntries(QComboBox& list, const QFont& bold) {
    for (int index = 0; index < list.count(); ++index) {
        const comports::PortDevice device = comports::DescribeComPort(index + 1);
        list.setItemData(index, ComPortToolTip(index + 1, device), Qt::ToolTipRole);
        // Clearing the mark of an absent device undoes it for a cable pulled since last time.
        list.setItemData(index, device.present ? QVariant(bold) : QVariant(), Qt::FontRole);
    }
}

}  // namespace

void DropDownList::showPopup() {
    emit aboutToShowDetails();
    QComboBox::showPopup();
}

bool DropDownList::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        emit aboutToShowDetails();  // a cable plugged in since the list was last opened
    }
    return QComboBox::event(event);
}

QString ComPortToolTip(int comNumber, const comports::PortDevice& device) {
    const QString com = QStringLiteral("COM%1").arg(comNumber);
    if (device.device.empty()) {
        return QStringLiteral("%1: no device (a link %2 can name one)")
            .arg(com, QString::fromStdString(comports::PortLinkPath(comNumber).string()));
    }
    QString text = com + ": " + QString::fromStdString(device.device);
    if (!device.link.empty()) {
        text += " (per-user link " + QString::fromStdString(device.link.string()) + ")";
    }
    return text + (device.present ? ", present" : ", not present");
}

void MarkComPorts(QComboBox& list) {
    QFont bold = list.font();
    bold.setBold(true);
    QAbstractItemModel* model = list.model();
    {
        // One change notice for the lot instead of one for each of 512 values, each of which
        // would have the list work out its size again.
        const QSignalBlocker quiet(model);
        MarkEntries(list, bold);
    }
    if (list.count() > 0) {
        emit model->dataChanged(model->index(0, list.modelColumn()),
                                model->index(list.count() - 1, list.modelColumn()));
    }
    ShowSelectedPortTip(list);
}

void ShowSelectedPortTip(QComboBox& list) {
    list.setToolTip(list.currentData(Qt::ToolTipRole).toString());
}
