// TEST: checks that the scanner answers and decides whether the upload is offered.
#pragma once

#include <optional>

#include "exchange_io.h"
#include "firmware_payload.h"

namespace exchange {

// How a version check ended, one value per way its handler can return.
enum class VersionCheckOutcome {
    kBusy,              // another exchange was running: nothing happened
    kPortNotOpened,     // "Unable to open the port COM%d. ..."
    kNoReadyByte,       // "No data from the scanner. Please retry from step 1"
    kNoReply,           // "Unable to communicate with the scanner. ..."
    kUploadOffered,     // the scanner replied and UPDATE was enabled
    kUploadNotOffered,  // the scanner replied; the version question was not answered Yes
};

// What a version check ended with.
struct VersionCheckResult {
    VersionCheckOutcome outcome = VersionCheckOutcome::kBusy;
    // The scanner's version as the check took it (0 already raised to 1; 255: no application
    // code); set exactly when the scanner replied.
    std::optional<int> scannerVersion;
};

// Runs the whole version check inside the TEST click. nPortIndex and nScannerVersion are the
// dialog's m_nPortIndex and m_nScannerVersion, which this writes. While another exchange runs
// it returns at once and changes nothing.
VersionCheckResult RunVersionCheck(ExchangeIo& io, const FirmwarePayload& firmware, int& nPortIndex,
                                   int& nScannerVersion);

}  // namespace exchange
