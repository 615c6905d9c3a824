#include "exchange_fakes.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "link_frame.h"

namespace fakes {

std::vector<std::string> EventLog::WithPrefix(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const auto& entry : entries) {
        if (entry.rfind(prefix, 0) == 0) {
            found.push_back(entry);
        }
    }
    return found;
}

int EventLog::IndexOf(const std::string& entry) const {
    const auto it = std::find(entries.begin(), entries.end(), entry);
    return it == entries.end() ? -1 : static_cast<int>(it - entries.begin());
}

std::uint32_t VirtualClock::GetTickCount() {
    return static_cast<std::uint32_t>(m_startTick + m_now);
}

void VirtualClock::Advance(std::uint64_t ms) {
    m_now += ms;
    if (m_now > kRunawayMs) {
        // A wait that never ends would hang the run; end it as a failure instead.
        ReportRunaway(kRunawayMs);
        throw std::runtime_error("virtual time ran away");
    }
}

void VirtualClock::Sleep(std::uint32_t ms) {
    if (ms == 0) {
        Poll();
        return;
    }
    m_sleeps.emplace_back(m_now, ms);
    Advance(ms);
}

void ScriptedPort::Arrive(std::uint64_t atMs, const Bytes& bytes) {
    for (const auto byte : bytes) {
        m_input.emplace(atMs, byte);
    }
}

void ScriptedPort::ArriveAfter(std::uint64_t delayMs, const Bytes& bytes) {
    Arrive(m_clock.Now() + delayMs, bytes);
}

int ScriptedPort::Arrived() const {
    if (HasGoneAway()) {
        return 0;
    }
    int count = 0;
    for (auto it = m_input.begin(); it != m_input.end() && it->first <= m_clock.Now(); ++it) {
        ++count;
    }
    return count;
}

int ScriptedPort::BytesWaiting() {
    m_clock.Poll();
    const int waiting = Arrived();
    m_announced = waiting > 0;
    return waiting;
}

int ScriptedPort::Read(void* buffer, int count, int limitMs) {
    if (count != 1 || limitMs != 1000 || !m_announced) {
        ++irregularReads;
    }
    m_announced = false;
    if (count <= 0 || Arrived() < count) {
        m_clock.Advance(static_cast<std::uint64_t>(std::max(limitMs, 0)));  // a timed-out read
        return 0;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (int i = 0; i < count; ++i) {
        out[i] = m_input.begin()->second;
        m_input.erase(m_input.begin());
    }
    return count;
}

int ScriptedPort::Write(const void* buffer, int count, int limitMs) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    WriteRecord record{m_clock.Now(), Bytes(bytes, bytes + std::max(count, 0)), limitMs, count};
    const auto scripted = m_writeResults.find(m_writes.size());
    if (scripted != m_writeResults.end()) {
        record.result = scripted->second;
    }
    if (HasGoneAway()) {
        record.result = 0;
    }
    const bool timesOut = m_writes.size() >= m_failWritesFrom;
    if (timesOut) {
        record.result = 0;
    }
    m_writes.push_back(record);
    if (timesOut) {
        m_clock.Advance(static_cast<std::uint64_t>(std::max(limitMs, 0)));
    }
    if (m_writes.size() - 1 == m_goAwayAfterWrite) {
        m_goneAt = std::min(m_goneAt, m_clock.Now() + m_goAwayDelayMs);
    }
    m_log.Add("port write " + std::to_string(count) + " -> " + std::to_string(record.result));
    if (onWrite) {
        onWrite(record);
    }
    return record.result;
}

void ScriptedPort::DrainInput() {
    ++drains;
    m_log.Add("port drain");
    while (Arrived() > 0) {
        m_input.erase(m_input.begin());
    }
}

void ScriptedPort::Close() {
    m_closed = true;
    m_closedAt = m_clock.Now();
    m_log.Add("port close");
}

namespace {

// What the opener hands out: forwards to the test's port; deleting it closes the port.
class PortProxy : public exchange::IPort {
public:
    explicit PortProxy(ScriptedPort& port) : m_port(port) {}
    ~PortProxy() override { m_port.Close(); }
    int BytesWaiting() override { return m_port.BytesWaiting(); }
    int Read(void* buffer, int count, int limitMs) override {
        return m_port.Read(buffer, count, limitMs);
    }
    int Write(const void* buffer, int count, int limitMs) override {
        return m_port.Write(buffer, count, limitMs);
    }
    void DrainInput() override { m_port.DrainInput(); }
    bool HasGoneAway() override { return m_port.HasGoneAway(); }

private:
    ScriptedPort& m_port;
};

class RecordingProgress : public exchange::IProgressWindow {
public:
    RecordingProgress(EventLog& log, RecordingView& view) : m_log(log), m_view(view) {
        ++m_view.progressAlive;
        m_log.Add("progress create");
    }
    ~RecordingProgress() override {
        --m_view.progressAlive;
        m_log.Add("progress delete");
    }
    void SetRange32(int low, int high) override {
        m_log.Add("progress range " + std::to_string(low) + " " + std::to_string(high));
    }
    void SetPos(int position) override {
        m_view.progressPositions.push_back(position);
        m_log.Add("progress pos " + std::to_string(position));
    }
    void SetCaption(const std::string& caption) override {
        m_log.Add("progress caption " + caption);
    }

private:
    EventLog& m_log;
    RecordingView& m_view;
};

}  // namespace

std::unique_ptr<exchange::IPort> ScriptedOpener::Open(const std::string& name, int baudRate,
                                                      char parity, int dataBits, int stopBits,
                                                      bool dtr, bool rts) {
    requests.push_back({name, baudRate, parity, dataBits, stopBits, dtr, rts});
    m_log.Add("port open " + name);
    switch (mode) {
        case Mode::kThrowInt:
            throw 1;
        case Mode::kThrowStd:
            throw std::runtime_error("no such port");
        case Mode::kReturnNull:
            return nullptr;
        case Mode::kSucceed:
            break;
    }
    return std::make_unique<PortProxy>(m_port);
}

namespace {

// A port that logs its deletion, after the port it wraps has been closed.
class LoggedPort : public exchange::IPort {
public:
    LoggedPort(std::unique_ptr<exchange::IPort> port, EventLog& log)
        : m_port(std::move(port)), m_log(log) {}
    ~LoggedPort() override {
        m_port.reset();
        m_log.Add("port close");
    }
    int BytesWaiting() override { return m_port->BytesWaiting(); }
    int Read(void* buffer, int count, int limitMs) override {
        return m_port->Read(buffer, count, limitMs);
    }
    int Write(const void* buffer, int count, int limitMs) override {
        return m_port->Write(buffer, count, limitMs);
    }
    void DrainInput() override { m_port->DrainInput(); }
    bool HasGoneAway() override { return m_port->HasGoneAway(); }

private:
    std::unique_ptr<exchange::IPort> m_port;
    EventLog& m_log;
};

}  // namespace

std::unique_ptr<exchange::IPort> LoggingPortOpener::Open(const std::string& name, int baudRate,
                                                         char parity, int dataBits, int stopBits,
                                                         bool dtr, bool rts) {
    m_log.Add("port open " + name);
    auto port = m_inner.Open(name, baudRate, parity, dataBits, stopBits, dtr, rts);
    if (!port) {
        return nullptr;
    }
    return std::make_unique<LoggedPort>(std::move(port), m_log);
}

RecordingView::RecordingView(EventLog& log, const VirtualClock* clock)
    : m_log(log), m_clock(clock), m_enabled{{1000, true}, {1002, true}, {1003, false}} {}

int RecordingView::ShowMessageBox(const std::string& text, unsigned style) {
    messages.push_back({text, style, m_clock ? m_clock->Now() : 0});
    m_log.Add("message " + std::to_string(style) + ": " + text);
    if (whileMessageShown) {
        const MessageRecord shown = messages.back();  // the hook may show further boxes
        whileMessageShown(shown);
    }
    const bool yesNo = (style & 0x0F) == 0x04;
    return yesNo ? yesNoAnswer : 1;  // IDOK
}

void RecordingView::EnableControl(int id, bool enable) {
    m_enabled[id] = enable;
    m_log.Add("enable " + std::to_string(id) + (enable ? " on" : " off"));
}

void RecordingView::SetControlText(int id, const std::string& text) {
    texts[id] = text;
    m_log.Add("text " + std::to_string(id) + ": " + text);
}

void RecordingView::ShowControl(int id) {
    shown.insert(id);
    m_log.Add("show " + std::to_string(id));
}

void RecordingView::BeginWaitCursor() {
    ++cursorDepth;
    m_log.Add("cursor begin");
}

void RecordingView::EndWaitCursor() {
    --cursorDepth;
    m_log.Add("cursor end");
}

std::unique_ptr<exchange::IProgressWindow> RecordingView::CreateProgressWindow() {
    if (progressCreationThrows) {
        throw std::bad_alloc();
    }
    if (progressCreationYieldsNull) {
        m_log.Add("progress none");
        return nullptr;
    }
    return std::make_unique<RecordingProgress>(m_log, *this);
}

ScriptedScanner::ScriptedScanner(ScriptedPort& port, std::uint32_t imageLength)
    : m_port(port), m_imageLength(imageLength) {
    m_port.onWrite = [this](const WriteRecord& write) { OnWrite(write); };
}

void ScriptedScanner::OnWrite(const WriteRecord& write) {
    const auto accepted = static_cast<std::size_t>(
        std::clamp<int>(write.result, 0, static_cast<int>(write.bytes.size())));
    m_pending.insert(m_pending.end(), write.bytes.begin(), write.bytes.begin() + accepted);
    for (;;) {
        while (!m_pending.empty() && m_pending.front() != scanlink::STX) {
            ++malformedBytes;
            m_pending.erase(m_pending.begin());
        }
        // Hex digits and the start kind are never ETX, so the first ETX ends the payload.
        const auto etx = std::find(m_pending.begin(), m_pending.end(), scanlink::ETX);
        if (etx == m_pending.end() || etx + 1 == m_pending.end()) {
            return;
        }
        const Bytes frame(m_pending.begin(), etx + 2);
        m_pending.erase(m_pending.begin(), etx + 2);
        OnFrame(frame);
    }
}

void ScriptedScanner::Play(const Script& script) {
    for (const auto& [delayMs, bytes] : script) {
        m_port.ArriveAfter(delayMs, bytes);
    }
}

void ScriptedScanner::OnFrame(const Bytes& frame) {
    if (frame.size() == scanlink::kStartPacketSize && frame[1] == scanlink::kStartKind) {
        startPacket = frame;
        Play(goAhead);
        return;
    }
    Bytes decoded;
    if (!DecodeDataPacket(frame, decoded)) {
        malformedBytes += static_cast<int>(frame.size());
        return;
    }
    if (sendsPerPacket.size() <= m_packet) {
        sendsPerPacket.push_back(0);
    }
    ++sendsPerPacket[m_packet];
    const auto scripted = m_answers.find({m_packet, m_send});
    const Script answer =
        scripted == m_answers.end() ? Script{{1, {scanlink::ACK}}} : scripted->second;
    Play(answer);
    std::uint8_t first = scanlink::NOTHING;
    for (const auto& entry : answer) {
        for (const auto byte : entry.second) {
            if (first == scanlink::NOTHING) {
                first = byte;
            }
        }
    }
    if (first != scanlink::ACK) {
        ++m_send;
        return;
    }
    image.insert(image.end(), decoded.begin(), decoded.end());
    ++m_packet;
    m_send = 0;
    if (image.size() >= m_imageLength) {
        Play(verdict);
    }
}

Bytes VersionReply(char d1, char d2, bool badChecksum) {
    Bytes reply{
        scanlink::STX, 'x', 'y', static_cast<std::uint8_t>(d1), static_cast<std::uint8_t>(d2),
        scanlink::ETX, 0};
    reply[6] = scanlink::Checksum(reply.data() + 1, 4);
    if (badChecksum) {
        reply[6] = static_cast<std::uint8_t>(reply[6] + 1);
    }
    return reply;
}

namespace {

int HexValue(std::uint8_t digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;  // lowercase is never sent
}

}  // namespace

bool DecodeDataPacket(const Bytes& packet, Bytes& image) {
    const std::size_t size = packet.size();
    if (size < 5 || size % 2 == 0 || packet[0] != scanlink::STX ||
        packet[size - 2] != scanlink::ETX ||
        packet[size - 1] != scanlink::Checksum(packet.data() + 1, size - 3)) {
        return false;
    }
    image.clear();
    for (std::size_t i = 1; i + 2 < size; i += 2) {
        const int high = HexValue(packet[i]);
        const int low = HexValue(packet[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        image.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

}  // namespace fakes
