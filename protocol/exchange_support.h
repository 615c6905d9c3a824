// Pieces that the TEST and UPDATE exchanges share: the guarded open, the counted port, the
// messages kept in the record, the time windows and the polled one-byte read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "exchange_io.h"

namespace exchange::detail {

// The line settings both exchanges open the port with.
inline constexpr int kBaudRate = 115200;
inline constexpr char kParity = 'N';
inline constexpr int kDataBits = 8;
inline constexpr int kStopBits = 1;
inline constexpr bool kDtrOn = true;
inline constexpr bool kRtsOn = true;

inline constexpr int kReadLimitMs = 1000;            // every one-byte read
inline constexpr int kPacketWriteLimitMs = 5000;     // every packet write
inline constexpr std::uint32_t kPortSettleMs = 100;  // pause after the port is opened
inline constexpr std::uint32_t kReadyWindowMs = 2000;

// Opens the named port with the fixed settings; null when the opener throws or yields nothing.
std::unique_ptr<IPort> OpenScannerPort(IPortOpener& opener, const std::string& name);

// Opens the port the front end names; null, once openFailedText (with a %d for the COM number)
// has been shown, when it cannot be opened.
std::unique_ptr<IPort> OpenChosenPort(ExchangeIo& io, ExchangeRecord& record,
                                      const char* openFailedText);

// The port as an exchange uses it: the bytes that cross it, and its device going away, are
// noted in the exchange's record.
class CountedPort final : public IPort {
public:
    CountedPort(IPort& port, ExchangeRecord& record) : m_port(port), m_record(record) {}
    int BytesWaiting() override { return m_port.BytesWaiting(); }
    int Read(void* buffer, int count, int limitMs) override;
    int Write(const void* buffer, int count, int limitMs) override;
    void DrainInput() override { m_port.DrainInput(); }
    bool HasGoneAway() override;

private:
    IPort& m_port;
    ExchangeRecord& m_record;
};

// Shows text, and keeps it among the record's messages.
void Show(IFrontEnd& front, ExchangeRecord& record, const std::string& text, MessageKind kind);
// Asks text, and keeps it among the record's messages; true for Yes.
bool Ask(IFrontEnd& front, ExchangeRecord& record, const std::string& text);

// printf-style formatting into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A wait on the scanner: started from the tick count, run out when the unsigned 32-bit
// difference reaches its length, so a wrap of the counter cannot end it early.
class TimeWindow {
public:
    // Starts a window of lengthMs now.
    TimeWindow(IClock& clock, std::uint32_t lengthMs);
    // Starts the same window afresh.
    void Restart();
    // Whether lengthMs or more have passed since the (re)start.
    bool HasRunOut() const;

private:
    IClock& m_clock;
    std::uint32_t m_lengthMs;
    std::uint32_t m_startTick;
};

// When input is waiting, reads one byte; stores it and returns true only when the read
// delivered it, so a failed read leaves received unchanged.
bool ReadWaitingByte(IPort& port, std::uint8_t& received);

// Whether a wait on the scanner is over: its window has run out, or the port's device went
// away, after which nothing can come. Either way the wait ends as when its window runs out.
bool WaitIsOver(const TimeWindow& window, IPort& port);

}  // namespace exchange::detail
