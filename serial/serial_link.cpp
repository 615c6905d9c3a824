#include "serial_link.h"

#include "serial_port.h"

namespace {

// How long a look at an empty input queue waits for input before it answers.
constexpr int kIdleWaitMs = 1;

// An open CSerial as the exchanges see it; deleting the adapter deletes the port.
class SerialPortAdapter final : public exchange::IPort {
public:
    explicit SerialPortAdapter(std::unique_ptr<CSerial> port) : m_port(std::move(port)) {}

    // The exchanges poll this in their waiting loops; when nothing is there it first waits up
    // to a millisecond for input, so that they let the processor sleep instead of spinning,
    // while a byte that arrives is seen at once.
    int BytesWaiting() override {
        int waiting = m_port->BytesWaiting();
        if (waiting == 0) {
            m_port->WaitForInput(kIdleWaitMs);
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

private:
    std::unique_ptr<CSerial> m_port;
};

}  // namespace

std::unique_ptr<exchange::IPort> SerialPortOpener::Open(const std::string& name, int baudRate,
                                                        char parity, int dataBits, int stopBits,
                                                        bool dtr, bool rts) {
    // The constructor's exception (the integer 1) goes to the exchange, which expects it.
    auto port = std::unique_ptr<CSerial>(
        new CSerial(name.c_str(), baudRate, parity, dataBits, stopBits, dtr, rts));
    return std::make_unique<SerialPortAdapter>(std::move(port));
}

std::uint32_t SystemClock::GetTickCount() {
    return PlatformTickCount();
}

void SystemClock::Sleep(std::uint32_t ms) {
    PlatformSleep(ms);
}
