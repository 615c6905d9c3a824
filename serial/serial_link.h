// The real port and clock behind the exchanges: CSerial and the platform's tick count.
#pragma once

#include "exchange_io.h"

// Opens ports as CSerial objects; a CSerial constructor that throws yields the exception. The
// ports' BytesWaiting waits up to a millisecond for input before it reports none.
class SerialPortOpener : public exchange::IPortOpener {
public:
    // Constructs a CSerial for the name with the given settings.
    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override;
};

// The platform's millisecond tick count and Sleep.
class SystemClock : public exchange::IClock {
public:
    // The platform tick count, cut to 32 bits.
    std::uint32_t GetTickCount() override;
    // Pauses ms milliseconds; 0 yields the processor.
    void Sleep(std::uint32_t ms) override;
};
