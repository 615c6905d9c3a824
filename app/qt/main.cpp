// tr520-updater: the TR-520/521 CPU firmware update utility.
#include <QApplication>

#include "dialog_templates.h"
#include "updater_app.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationVersion(QString::fromUtf8(dialog_template::kFileVersion));
    QApplication::setDesktopFileName(QStringLiteral("tr520-updater"));
    theApp.InitInstance();
    return 0;
}
