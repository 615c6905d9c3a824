// Finding the scanner: one in its "CPU SW Upgrade" mode keeps sending its ready byte 'C', so
// each present port is opened with TEST's line settings and listened to, nothing being sent.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "com_port_devices.h"
#include "console_output.h"
#include "exchange_io.h"

inline constexpr std::uint32_t kFindListenMs = 2000;  // how long each port is listened to

// What listening on the present ports found, each list in COM order.
struct FoundPorts {
    std::vector<comports::ComPortInfo> answering;  // a ready byte came within kFindListenMs
    std::vector<comports::ComPortInfo> notOpened;  // could not be opened: left alone
};

// Says in a line or two why a port ("COM7") could not be opened; empty when it cannot tell.
using WhyNotOpenedLook = std::function<std::string(const std::string& portName)>;

// Listens on the present ports of ports. A port that cannot be opened is left alone, with a
// note and what whyNotOpened says of it. Ports are opened one at a time and closed, their
// settings restored, before the next. Throws what the opener and clock throw on Ctrl+C, the
// open port being closed first.
FoundPorts FindScannerPorts(const std::vector<comports::ComPortInfo>& ports,
                            exchange::IPortOpener& opener, exchange::IClock& clock,
                            ConsoleOutput& output, const WhyNotOpenedLook& whyNotOpened = {});

// The ports' COM names in words: "COM7, COM9".
std::string ComNames(const std::vector<comports::ComPortInfo>& ports);
