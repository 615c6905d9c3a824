// What the fuzz targets share: reading the input, failing a run with its reason, and a port
// opener whose ports forward to the fakes' scripted port and record every call in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "exchange_fakes.h"
#include "exchange_io.h"
#include "firmware_payload.h"

// Each target defines this; libFuzzer calls it, and so does the corpus replay.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

// Ends the run: one line on stderr naming the broken invariant, then abort(), so that the
// fuzzer keeps the input and the replay fails on it.
[[noreturn]] void Fail(const std::string& reason);

// Fails with reason unless condition holds.
inline void Check(bool condition, const std::string& reason) {
    if (!condition) {
        Fail(reason);
    }
}

// The input, read front to back.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    // Bytes not read yet.
    std::size_t Left() const { return m_size - m_at; }
    // The next byte; fallback once the input is used up.
    std::uint8_t Byte(std::uint8_t fallback = 0) { return m_at < m_size ? m_data[m_at++] : fallback; }
    // The rest of the input.
    Bytes Rest();

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

// A gap in virtual milliseconds from one input byte: 0 to 199 ms one by one, then 100 ms steps
// up to 5600 ms, so that one byte reaches past any window of the exchanges.
std::uint64_t GapMs(std::uint8_t code);

// One call on the port, as the exchange made it.
struct PortEvent {
    enum class Kind { kRead, kWrite, kDrain, kClose };
    Kind kind;
    std::uint64_t at;       // virtual time of the call
    Bytes bytes;            // kRead: the byte delivered; kWrite: the bytes asked to be written
    int result = 0;         // kRead, kWrite: what the call returned
    std::uint64_t end = 0;  // virtual time when it returned: later for a write that timed out
};

// How the port opens.
enum class OpenMode { kOpens, kThrowsInt, kThrowsOther, kYieldsNothing };

// Opens ports on the scripted port, or fails as set; records each request and what the
// ports it handed out saw.
class RecordingOpener : public exchange::IPortOpener {
public:
    RecordingOpener(fakes::ScriptedPort& port, fakes::VirtualClock& clock, OpenMode mode)
        : m_port(port), m_clock(clock), m_mode(mode) {}

    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr,
                                          bool rts) override;

    // One open request.
    using Request = fakes::OpenRequest;
    std::vector<Request> requests;
    // Every call on the ports handed out, in order.
    std::vector<PortEvent> events;

    // Fails unless exactly one request came, for "\\.\COM<comNumber>" with the line settings
    // 115200 baud, no parity, 8 data bits, 1 stop bit, DTR and RTS on.
    void CheckOneRequest(int comNumber) const;
    // Fails unless a port handed out was closed once, as the last call on it.
    void CheckClosedLast() const;

private:
    fakes::ScriptedPort& m_port;
    fakes::VirtualClock& m_clock;
    OpenMode m_mode;
};

// The carried firmware record, as a copy the targets may give another version or length.
FirmwarePayload& FirmwareCopy();

}  // namespace fuzz
