// The Windows platform behind CSerial, on a given set of Win32 calls: the real ones for the
// program, stand-ins for tests that play a driver.
#pragma once

#include <memory>

#include "serial_platform.h"
#include "win32_api.h"

// The platform making every Win32 call through api, which must outlive it.
std::unique_ptr<SerialPlatform> CreateWin32SerialPlatform(Win32Api& api);
