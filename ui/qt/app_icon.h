// Icon 128: the window icon of every dialog of the utility.
#pragma once

#include <QIcon>

// The 32x32 and 16x16 images of icon 128.
QIcon AppIcon();
