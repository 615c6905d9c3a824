// Shared set-up of the virtual-time exchange tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "exchange_fakes.h"
#include "firmware_payload.h"

namespace fakes {

// A copy of the carried record with the version word 0x11, so that the texts the tests expect
// ("1.10") hold whatever version a build carries.
inline const FirmwarePayload& TestFirmware() {
    static const std::unique_ptr<FirmwarePayload> firmware = [] {
        auto copy = std::make_unique<FirmwarePayload>(g_carriedFirmware);
        copy->version = 0x11;
        return copy;
    }();
    return *firmware;
}

// The fakes wired together, with the dialog as it stands before an exchange.
class ExchangeTest : public ::testing::Test {
protected:
    explicit ExchangeTest(std::uint32_t startTick = 1000) : clock(startTick) {}

    // The writes equal to bytes, in order.
    std::vector<WriteRecord> WritesOf(const Bytes& bytes) const {
        std::vector<WriteRecord> found;
        for (const auto& write : port.Writes()) {
            if (write.bytes == bytes) {
                found.push_back(write);
            }
        }
        return found;
    }

    // Whether event a was logged before event b (both must be there).
    bool LoggedBefore(const std::string& a, const std::string& b) const {
        const int first = log.IndexOf(a);
        const int second = log.IndexOf(b);
        return first >= 0 && second >= 0 && first < second;
    }

    EventLog log;
    VirtualClock clock;
    ScriptedPort port{clock, log};
    ScriptedOpener opener{port, log};
    RecordingView view{log, &clock};
    DialogIo io{view, opener, clock};
};

}  // namespace fakes
