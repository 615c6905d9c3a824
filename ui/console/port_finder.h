// Finding the scanner: one in its "CPU SW Upgrade" mode keeps sending its ready byte 'C', so
// each present port is opened with TEST's line settings and listened to, nothing being sent.
#pragma once

#include <cstdint>
#include <vector>

#include "com_port_devices.h"
#include "console_output.h"
#include "exchange_io.h"

inline constexpr std::uint32_t kFindListenMs = 2000;  // how long each port is listened to

// The present ports of ports where a ready byte came within kFindListenMs, in COM order. A
// port that cannot be opened (another program holds it) is left alone, with a note. Ports are
// opened one at a time and closed, their settings restored, before the next. Throws what the
// opener and clock throw on Ctrl+C, the open port being closed first.
std::vector<comports::ComPortInfo> FindScannerPorts(const std::vector<comports::ComPortInfo>& ports,
                                                    exchange::IPortOpener& opener,
                                                    exchange::IClock& clock, ConsoleOutput& output);
