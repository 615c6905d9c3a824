// The real port and clock behind the exchanges: CSerial and the platform's tick count.
#pragma once

#include "exchange_io.h"

// Opens ports as CSerial objects; a CSerial constructor that throws yields the exception. The
// ports' BytesWaiting waits up to idleWaitMs for input before it reports none, so that the
// exchanges' waiting loops let the processor sleep, while a byte that arrives is seen at once.
class SerialPortOpener : public exchange::IPortOpener {
public:
    // idleWaitMs: how long a look at an empty input queue waits for input; the exchanges'
    // windows may end that much late, never early.
    explicit SerialPortOpener(int idleWaitMs = 1) : m_idleWaitMs(idleWaitMs) {}

    // Constructs a CSerial for the name with the given settings.
    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override;

private:
    int m_idleWaitMs;
};

// The platform's millisecond tick count and Sleep.
class SystemClock : public exchange::IClock {
public:
    // The platform tick count, cut to 32 bits.
    std::uint32_t GetTickCount() override;
    // Pauses ms milliseconds; 0 yields the processor.
    void Sleep(std::uint32_t ms) override;
};
