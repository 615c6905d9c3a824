#include "app_icon.h"

#include <QPixmap>

#include "icon128_16.xpm"
#include "icon128_32.xpm"

QIcon AppIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap(icon128_32_xpm));
    icon.addPixmap(QPixmap(icon128_16_xpm));
    return icon;
}
