// UPDATE: sends the carried image to the scanner and reports its verdict.
#pragma once

#include "exchange_io.h"
#include "firmware_payload.h"

namespace exchange {

// How an upload ended, one value per way its handler can return.
enum class UploadOutcome {
    kBusy,            // another exchange was running: nothing happened
    kPortNotOpened,   // "Unable to open the port COM%d. ..."
    kNoReadyByte,     // "No data from the scanner. Please retry from step 4", before the start
    kNoGoAhead,       // the same text, after the start packet
    kWriteFailed,     // "Unable to send data to the scanner. Please retry from step 4"
    kNotApproved,     // "Scanner not approving the upgrade packets": the third NAK
    kNoAnswer,        // "Timed out waiting for response from scanner"
    kRejected,        // "Scanner rejected the upgrade!": CAN
    kVerdictTimeout,  // "Scanner response timeout!"
    kUnknownVerdict,  // "Scanner unknown response!"
    kAccepted,        // EOT: the completion text was shown
    kAbandoned,       // something else was thrown (the front end's own end, say): no message
};

// Runs the whole upload inside the UPDATE click, on the port that the last TEST stored
// (nPortIndex is the dialog's m_nPortIndex). While another exchange runs it returns at once and
// changes nothing.
UploadOutcome RunFirmwareUpload(ExchangeIo& io, const FirmwarePayload& firmware, int nPortIndex);

}  // namespace exchange
