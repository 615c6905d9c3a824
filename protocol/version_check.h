// TEST: checks that the scanner answers and decides whether the upload is offered.
#pragma once

#include "exchange_io.h"
#include "firmware_payload.h"

namespace exchange {

// Runs the whole version check inside the TEST click. nPortIndex and nScannerVersion are the
// dialog's m_nPortIndex and m_nScannerVersion, which this writes. While another exchange runs
// it returns at once and changes nothing.
void RunVersionCheck(ExchangeIo& io, const FirmwarePayload& firmware, int& nPortIndex,
                     int& nScannerVersion);

}  // namespace exchange
