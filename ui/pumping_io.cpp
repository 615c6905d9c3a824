#include "pumping_io.h"

#include <algorithm>

namespace {

// A port whose every call first lets the pump run.
class PumpingPort : public exchange::IPort {
public:
    PumpingPort(std::unique_ptr<exchange::IPort> port, IEventPump& pump)
        : m_port(std::move(port)), m_pump(pump) {}
    int BytesWaiting() override {
        m_pump.MaybePump();
        return m_port->BytesWaiting();
    }
    int Read(void* buffer, int count, int limitMs) override {
        m_pump.MaybePump();
        return m_port->Read(buffer, count, limitMs);
    }
    int Write(const void* buffer, int count, int limitMs) override {
        m_pump.MaybePump();
        return m_port->Write(buffer, count, limitMs);
    }
    void DrainInput() override {
        m_pump.MaybePump();
        m_port->DrainInput();
    }
    bool HasGoneAway() override { return m_port->HasGoneAway(); }

private:
    std::unique_ptr<exchange::IPort> m_port;
    IEventPump& m_pump;
};

}  // namespace

std::unique_ptr<exchange::IPort> PumpingOpener::Open(const std::string& name, int baudRate,
                                                     char parity, int dataBits, int stopBits,
                                                     bool dtr, bool rts) {
    auto port = m_opener.Open(name, baudRate, parity, dataBits, stopBits, dtr, rts);
    if (!port) {
        return nullptr;
    }
    return std::make_unique<PumpingPort>(std::move(port), m_pump);
}

std::uint32_t PumpingClock::GetTickCount() {
    m_pump.MaybePump();
    return m_clock.GetTickCount();
}

void PumpingClock::Sleep(std::uint32_t ms) {
    if (ms == 0) {
        m_pump.MaybePump();
        m_clock.Sleep(0);
        return;
    }
    while (ms > 0) {
        const std::uint32_t slice = std::min(ms, m_sliceMs);
        m_clock.Sleep(slice);
        ms -= slice;
        m_pump.MaybePump();
    }
}
