// The ports of tr520-cli: CSerial, as the dialogs open it, with a longer look at an empty input
// queue. Several ports at once each wait for the scanner's answers; against the simulator at
// line speed, waking every millisecond to look again cost one port's upload 3 % of a core,
// waking when input arrives or after 10 ms under 1 %, and a byte that arrives is seen at once
// either way.
#pragma once

#include "exchange_io.h"

// Opens ports as CSerial objects; a CSerial constructor that throws yields the exception. The
// ports' BytesWaiting waits up to kIdleWaitMs for input before it reports none.
class CliPortOpener final : public exchange::IPortOpener {
public:
    // How long a look at an empty input queue waits for input: the exchanges' windows and
    // Ctrl+C are seen within it.
    static constexpr int kIdleWaitMs = 10;

    // Constructs a CSerial for the name with the given settings.
    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override;
};
