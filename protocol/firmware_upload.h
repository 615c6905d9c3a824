// UPDATE: sends the carried image to the scanner and reports its verdict.
#pragma once

#include "exchange_io.h"
#include "firmware_payload.h"

namespace exchange {

// How an upload ended, one value per way it can return.
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
    kAccepted,        // EOT: the scanner took the image
    kAbandoned,       // something else was thrown (the front end's own end, say): no message
};

// What an upload ended with.
struct UploadResult : ExchangeRecord {
    UploadOutcome outcome = UploadOutcome::kBusy;
    int imageBytesAccepted = 0;  // acknowledged by the scanner's ACKs
};

// Runs the whole upload on the port the front end names (the one the last TEST used). While
// another exchange runs it returns at once, having asked and done nothing.
UploadResult RunFirmwareUpload(ExchangeIo& io, const FirmwarePayload& firmware);

}  // namespace exchange
