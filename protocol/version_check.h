// TEST: checks that the scanner answers and decides whether the upload is offered.
#pragma once

#include <optional>

#include "exchange_io.h"
#include "firmware_payload.h"

namespace exchange {

// How a version check ended, one value per way it can return.
enum class VersionCheckOutcome {
    kBusy,              // another exchange was running: nothing happened
    kPortNotOpened,     // "Unable to open the port COM%d. ..."
    kNoReadyByte,       // "No data from the scanner. Please retry from step 1"
    kNoReply,           // "Unable to communicate with the scanner. ..."
    kUploadOffered,     // the scanner replied, and the upload is offered
    kUploadNotOffered,  // the scanner replied; the version question was not answered Yes
};

// What a version check ended with.
struct VersionCheckResult : ExchangeRecord {
    VersionCheckOutcome outcome = VersionCheckOutcome::kBusy;
    // The scanner's version as the check took it (0 already raised to 1; 255: no application
    // code); set exactly when the scanner replied.
    std::optional<int> scannerVersion;
    bool questionAsked = false;  // the version question was put to the front end
};

// Runs the whole version check on the port the front end names. While another exchange runs
// it returns at once, having asked and done nothing.
VersionCheckResult RunVersionCheck(ExchangeIo& io, const FirmwarePayload& firmware);

}  // namespace exchange
