#include "cli_port_opener.h"

#include "serial_port.h"

namespace {

// An open CSerial as the exchanges see it; deleting the adapter deletes the port.
class CliPort final : public exchange::IPort {
public:
    explicit CliPort(std::unique_ptr<CSerial> port) : m_port(std::move(port)) {}

    // The exchanges poll this in their waiting loops: with nothing there it sleeps until input
    // arrives or the idle wait has passed.
    int BytesWaiting() override {
        int waiting = m_port->BytesWaiting();
        if (waiting == 0) {
            m_port->WaitForInput(CliPortOpener::kIdleWaitMs);
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

std::unique_ptr<exchange::IPort> CliPortOpener::Open(const std::string& name, int baudRate,
                                                     char parity, int dataBits, int stopBits,
                                                     bool dtr, bool rts) {
    // The constructor's exception (the integer 1) goes to the exchange, which expects it.
    auto port = std::unique_ptr<CSerial>(
        new CSerial(name.c_str(), baudRate, parity, dataBits, stopBits, dtr, rts));
    return std::make_unique<CliPort>(std::move(port));
}
