// Ports and a clock that let the front end's event pump run while an exchange waits inside a
// click on the one thread, so that the windows stay painted. Each front end supplies its pump.
#pragma once

#include <cstdint>
#include <memory>

#include "event_pump.h"
#include "exchange_io.h"

// Opens through another opener; every call on the ports it hands out first lets the pump run.
class PumpingOpener : public exchange::IPortOpener {
public:
    PumpingOpener(exchange::IPortOpener& opener, IEventPump& pump)
        : m_opener(opener), m_pump(pump) {}
    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override;

private:
    exchange::IPortOpener& m_opener;
    IEventPump& m_pump;
};

// A clock that lets the pump run on every call; long pauses are cut into slices of at most
// sliceMs so that the windows are painted during them too.
class PumpingClock : public exchange::IClock {
public:
    PumpingClock(exchange::IClock& clock, IEventPump& pump, std::uint32_t sliceMs)
        : m_clock(clock), m_pump(pump), m_sliceMs(sliceMs) {}
    std::uint32_t GetTickCount() override;
    void Sleep(std::uint32_t ms) override;

private:
    exchange::IClock& m_clock;
    IEventPump& m_pump;
    std::uint32_t m_sliceMs;
};
