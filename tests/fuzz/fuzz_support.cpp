#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "firmware_payload.h"

namespace fakes {

// A wait that never ends is a hang: a failed run like any other.
void ReportRunaway(std::uint64_t limitMs) {
    fuzz::Fail("virtual time passed " + std::to_string(limitMs) + " ms: a wait does not end");
}

}  // namespace fakes

namespace fuzz {

void Fail(const std::string& reason) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", reason.c_str());
    std::fflush(stderr);
    std::abort();
}

Bytes InputReader::Rest() {
    Bytes rest(m_data + m_at, m_data + m_size);
    m_at = m_size;
    return rest;
}

std::uint64_t GapMs(std::uint8_t code) {
    constexpr std::uint8_t kFine = 200;  // codes below this are milliseconds
    return code < kFine ? code : (code - kFine + 1) * std::uint64_t{100};
}

namespace {

// Forwards to the scripted port and records each call; deleting it closes the port.
class RecordingPort : public exchange::IPort {
public:
    RecordingPort(fakes::ScriptedPort& port, fakes::VirtualClock& clock,
                  std::vector<PortEvent>& events)
        : m_port(port), m_clock(clock), m_events(events) {}
    ~RecordingPort() override {
        m_events.push_back({PortEvent::Kind::kClose, m_clock.Now(), {}, 0, m_clock.Now()});
        m_port.Close();
    }
    int BytesWaiting() override { return m_port.BytesWaiting(); }
    int Read(void* buffer, int count, int limitMs) override {
        const int result = m_port.Read(buffer, count, limitMs);
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        m_events.push_back({PortEvent::Kind::kRead, m_clock.Now(),
                            result > 0 ? Bytes(bytes, bytes + result) : Bytes{}, result,
                            m_clock.Now()});
        return result;
    }
    int Write(const void* buffer, int count, int limitMs) override {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        m_events.push_back({PortEvent::Kind::kWrite, m_clock.Now(),
                            Bytes(bytes, bytes + std::max(count, 0)), 0});
        const std::size_t index = m_events.size() - 1;
        // The scripted port may answer at once (onWrite), which may record events of its own.
        const int result = m_port.Write(buffer, count, limitMs);
        m_events[index].result = result;
        m_events[index].end = m_clock.Now();
        return result;
    }
    void DrainInput() override {
        m_events.push_back({PortEvent::Kind::kDrain, m_clock.Now(), {}, 0, m_clock.Now()});
        m_port.DrainInput();
    }

private:
    fakes::ScriptedPort& m_port;
    fakes::VirtualClock& m_clock;
    std::vector<PortEvent>& m_events;
};

}  // namespace

std::unique_ptr<exchange::IPort> RecordingOpener::Open(const std::string& name, int baudRate,
                                                       char parity, int dataBits, int stopBits,
                                                       bool dtr, bool rts) {
    requests.push_back({name, baudRate, parity, dataBits, stopBits, dtr, rts});
    switch (m_mode) {
        case OpenMode::kThrowsInt:
            throw 1;
        case OpenMode::kThrowsOther:
            throw std::runtime_error("no such port");
        case OpenMode::kYieldsNothing:
            return nullptr;
        case OpenMode::kOpens:
            break;
    }
    return std::make_unique<RecordingPort>(m_port, m_clock, events);
}

void RecordingOpener::CheckOneRequest(int comNumber) const {
    Check(requests.size() == 1, "the port was not asked for exactly once");
    const Request& r = requests.front();
    Check(r.name == "\\\\.\\COM" + std::to_string(comNumber),
          "opened " + r.name + " instead of COM" + std::to_string(comNumber));
    Check(r.baudRate == 115200 && r.parity == 'N' && r.dataBits == 8 && r.stopBits == 1 &&
              r.dtr && r.rts,
          "the port was opened with other line settings than 115200 8N1, DTR and RTS on");
}

void RecordingOpener::CheckClosedLast() const {
    std::size_t closes = 0;
    for (const auto& event : events) {
        closes += event.kind == PortEvent::Kind::kClose ? 1 : 0;
    }
    Check(closes == 1, "the port was closed " + std::to_string(closes) + " times, not once");
    Check(events.back().kind == PortEvent::Kind::kClose, "the port was used after it closed");
}

FirmwarePayload& FirmwareCopy() {
    static FirmwarePayload copy = g_carriedFirmware;
    return copy;
}

}  // namespace fuzz
