#include "counting_opener.h"

#include "link_frame.h"

namespace {

// A data packet as the upload writes it, whole in one write: STX, an even number of hex
// digits, ETX, checksum, so an odd length; the start packet (10 bytes) and TEST's query
// (4 bytes) are even.
bool IsDataPacket(const void* buffer, int count) {
    return count >= 5 && count % 2 == 1 &&
           static_cast<const std::uint8_t*>(buffer)[0] == scanlink::STX;
}

class CountingPort final : public exchange::IPort {
public:
    CountingPort(std::unique_ptr<exchange::IPort> port, LinkCounts& counts)
        : m_port(std::move(port)), m_counts(counts) {}

    int BytesWaiting() override { return m_port->BytesWaiting(); }
    int Read(void* buffer, int count, int limitMs) override {
        const int read = m_port->Read(buffer, count, limitMs);
        if (read > 0) {
            m_counts.bytesReceived += read;
            const auto* bytes = static_cast<const std::uint8_t*>(buffer);
            for (int i = 0; i < read; ++i) {
                m_ackSinceLastPacket = m_ackSinceLastPacket || bytes[i] == scanlink::ACK;
            }
        }
        return read;
    }
    int Write(const void* buffer, int count, int limitMs) override {
        if (IsDataPacket(buffer, count)) {
            // Each packet is answered before the next goes: without an ACK since the last one,
            // this is the same packet again.
            if (m_counts.packetsSent > 0 && !m_ackSinceLastPacket) {
                ++m_counts.resends;
            }
            ++m_counts.packetsSent;
            m_ackSinceLastPacket = false;
        }
        const int written = m_port->Write(buffer, count, limitMs);
        m_counts.bytesSent += written > 0 ? written : 0;
        return written;
    }
    // What a drain discards goes uncounted: only TEST drains, before its query.
    void DrainInput() override { m_port->DrainInput(); }
    bool HasGoneAway() override { return m_port->HasGoneAway(); }

private:
    std::unique_ptr<exchange::IPort> m_port;
    LinkCounts& m_counts;
    bool m_ackSinceLastPacket = false;
};

}  // namespace

std::unique_ptr<exchange::IPort> CountingOpener::Open(const std::string& name, int baudRate,
                                                      char parity, int dataBits, int stopBits,
                                                      bool dtr, bool rts) {
    auto port = m_inner.Open(name, baudRate, parity, dataBits, stopBits, dtr, rts);
    if (!port || m_counts == nullptr) {
        return port;
    }
    return std::make_unique<CountingPort>(std::move(port), *m_counts);
}
