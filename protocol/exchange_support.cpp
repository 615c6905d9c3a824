#include "exchange_support.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace exchange {

PortToOpen ComPort(int comNumber) {
    return {detail::Format("\\\\.\\COM%d", comNumber), comNumber};
}

}  // namespace exchange

namespace exchange::detail {

std::unique_ptr<IPort> OpenScannerPort(IPortOpener& opener, const std::string& name) {
    try {
        return opener.Open(name, kBaudRate, kParity, kDataBits, kStopBits, kDtrOn, kRtsOn);
    } catch (...) {
        // CSerial throws the integer 1; whatever comes, the port cannot be opened.
        return nullptr;
    }
}

int CountedPort::Read(void* buffer, int count, int limitMs) {
    const int read = m_port.Read(buffer, count, limitMs);
    m_record.bytesReceived += read > 0 ? read : 0;
    return read;
}

int CountedPort::Write(const void* buffer, int count, int limitMs) {
    const int written = m_port.Write(buffer, count, limitMs);
    m_record.bytesSent += written > 0 ? written : 0;
    return written;
}

bool CountedPort::HasGoneAway() {
    const bool gone = m_port.HasGoneAway();
    m_record.portWentAway = m_record.portWentAway || gone;
    return gone;
}

void Show(IFrontEnd& front, ExchangeRecord& record, const std::string& text, MessageKind kind) {
    record.messages.push_back(text);
    front.ShowMessage(text, kind);
}

bool Ask(IFrontEnd& front, ExchangeRecord& record, const std::string& text) {
    record.messages.push_back(text);
    return front.AskYesNo(text);
}

std::unique_ptr<IPort> OpenChosenPort(ExchangeIo& io, ExchangeRecord& record,
                                      const char* openFailedText) {
    const PortToOpen chosen = io.front.Port();
    std::unique_ptr<IPort> port = OpenScannerPort(io.opener, chosen.name);
    if (!port) {
        Show(io.front, record, Format(openFailedText, chosen.comNumber), MessageKind::kFailure);
    }
    return port;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<std::size_t>(length));
    }
    va_end(args);
    return text;
}

TimeWindow::TimeWindow(IClock& clock, std::uint32_t lengthMs)
    : m_clock(clock), m_lengthMs(lengthMs), m_startTick(clock.GetTickCount()) {}

void TimeWindow::Restart() {
    m_startTick = m_clock.GetTickCount();
}

bool TimeWindow::HasRunOut() const {
    const std::uint32_t elapsed = m_clock.GetTickCount() - m_startTick;
    return elapsed >= m_lengthMs;
}

bool WaitIsOver(const TimeWindow& window, IPort& port) {
    return window.HasRunOut() || port.HasGoneAway();
}

bool ReadWaitingByte(IPort& port, std::uint8_t& received) {
    if (port.BytesWaiting() <= 0) {
        return false;
    }
    std::uint8_t byte = 0;
    if (port.Read(&byte, 1, kReadLimitMs) != 1) {
        return false;
    }
    received = byte;
    return true;
}

}  // namespace exchange::detail
