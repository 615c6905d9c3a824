#include "port_opener_and_clock.h"

#include "cserial.h"

namespace {

// An open CSerial as the exchanges see it; deleting the adapter deletes the port.
class SerialPortAdapter final : public exchange::IPort {
public:
    SerialPortAdapter(std::unique_ptr<CSerial> port, int idleWaitMs)
        : m_port(std::move(port)), m_idleWaitMs(idleWaitMs) {}

    // The exchanges poll this in their waiting loops; when nothing is there it first waits up
    // to the idle wait for input, so that they let the processor sleep instead of spinning,
    // while a byte that arrives is seen at once.
    int BytesWaiting() override {
        int waiting = m_port->BytesWaiting();
        if (waiting == 0) {
            m_port->WaitForInput(m_idleWaitMs);
            waiting = m_port->BytesWaiting();
        }
        return waiting;
    }
    int Read(void* buffer, int count, int limitMs) override {
        return m_port->Read(buffer, count, limitMs);
    }
    int Write(const void* buffer, int count, int limitMs) override {
        return m_port->Write(buffer, count, limitMs);
    }
    void DrainInput() override { m_port->DrainInput(); }
    bool HasGoneAway() override { return m_port->HasGoneAway(); }

private:
    std::unique_ptr<CSerial> m_port;
    int m_idleWaitMs;
};

}  // namespace

std::unique_ptr<exchange::IPort> SerialPortOpener::Open(const std::string& name, int baudRate,
                                                        char parity, int dataBits, int stopBits,
                                                        bool dtr, bool rts) {
    // The constructor's exception (the integer 1) goes to the exchange, which expects it.
    auto port = std::unique_ptr<CSerial>(
        new CSerial(name.c_str(), baudRate, parity, dataBits, stopBits, dtr, rts));
    return std::make_unique<SerialPortAdapter>(std::move(port), m_idleWaitMs);
}

std::uint32_t SystemClock::GetTickCount() {
    return PlatformTickCount();
}

void SystemClock::Sleep(std::uint32_t ms) {
    PlatformSleep(ms);
}
