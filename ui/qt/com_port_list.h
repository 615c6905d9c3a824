// The COM port list's device marks: each entry's tooltip names the device its COM number
// stands for and whether it is there now, and present devices are shown in bold. The entries'
// texts, order and selection stay as they are.
#pragma once

#include <QComboBox>
#include <QString>

#include "com_port_devices.h"

// A drop-down list that says when it is about to open its list or show its tooltip, so that
// what it shows can be brought up to date first.
class DropDownList : public QComboBox {
    Q_OBJECT

public:
    using QComboBox::QComboBox;
    void showPopup() override;

signals:
    void aboutToShowDetails();

protected:
    bool event(QEvent* event) override;
};

// Brings every entry's tooltip and mark up to date (entry i is COM i+1) and gives the list the
// selected entry's tooltip.
void MarkComPorts(QComboBox& list);

// Gives the list the selected entry's tooltip.
void ShowSelectedPortTip(QComboBox& list);
