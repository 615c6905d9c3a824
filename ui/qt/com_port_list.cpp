#include "com_port_list.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QFont>
#include <QSignalBlocker>

namespace {

void MarkEntries(QComboBox& list, const QFont& bold) {
    const std::vector<comports::ComPortInfo> ports = comports::DescribeComPorts();
    for (int index = 0; index < list.count() && index < static_cast<int>(ports.size()); ++index) {
        const comports::ComPortInfo& port = ports[static_cast<std::size_t>(index)];
        list.setItemData(index, QString::fromStdString(port.description), Qt::ToolTipRole);
        // Clearing the mark of an absent device undoes it for a cable pulled since last time.
        list.setItemData(index, port.present ? QVariant(bold) : QVariant(), Qt::FontRole);
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
