// CAboutDlg: names the utility and the version of the firmware it carries.
#pragma once

#include <QDialog>

// Template 100, run modally over the main dialog.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    // Builds the box over parent (the main dialog), which centres it.
    explicit CAboutDlg(QWidget* parent = nullptr);
};
