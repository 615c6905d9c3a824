#include "about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app_icon.h"
#include "firmware_payload.h"
#include "template_builder.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    BuildFromTemplate(*this, dialog_template::kAboutDialog);
    setWindowIcon(AppIcon());
    auto* versionLine = qobject_cast<QLabel*>(FindControl(*this, IDC_ABOUT_VERSION));
    versionLine->setText(versionLine->text() + QStringLiteral(" ") +
                         QString::fromStdString(VersionText(g_carriedFirmware.VersionByte())));
    auto* ok = qobject_cast<QPushButton*>(FindControl(*this, IDOK));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
}
