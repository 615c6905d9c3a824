// UPDATE: sends the carried image to the scanner and reports its verdict.
#pragma once

#include "exchange_io.h"
#include "firmware_payload.h"

namespace exchange {

// Runs the whole upload inside the UPDATE click, on the port that the last TEST stored
// (nPortIndex is the dialog's m_nPortIndex). While another exchange runs it returns at once and
// changes nothing.
void RunFirmwareUpload(ExchangeIo& io, const FirmwarePayload& firmware, int nPortIndex);

}  // namespace exchange
