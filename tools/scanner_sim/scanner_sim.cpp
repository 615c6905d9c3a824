#include "scanner_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <sstream>
#include <system_error>

#include "com_port_names.h"
#include "firmware_payload.h"

namespace scannersim {

namespace {

// The link's bytes, written out here rather than borrowed from the utility, so that the
// simulator checks the utility against the link's definition and not against itself.
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kEnq = 0x05;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kCan = 0x18;
constexpr std::uint8_t kReady = 'C';
constexpr std::uint8_t kQueryKind = 'V';
constexpr std::uint8_t kStartKind = 0xFA;
constexpr std::size_t kMaxDataDigits = 240;  // 120 image bytes
constexpr Ms kByteGap{1000};                 // longest wait for the next byte of a packet

using Clock = std::chrono::steady_clock;

std::uint8_t FrameChecksum(const std::vector<std::uint8_t>& payload) {
    unsigned sum = kEtx;
    for (std::uint8_t b : payload) {
        sum += b;
    }
    return static_cast<std::uint8_t>(sum);
}

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;  // lowercase digits are not part of the link either
}

std::string Hex(std::uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

}  // namespace

// One run of the scanner's conversation on the simulator's thread.
class ScannerSim::Session {
public:
    explicit Session(ScannerSim& sim)
        : m_sim(sim),
          m_options(sim.m_options),
          m_expected(ExpectedImage(sim.m_options)),
          m_usPerByte(m_options.baudRate > 0 ? 10.0e6 / m_options.baudRate : 0.0) {}

    void Run() {
        Trace("waiting in upgrade mode");
        while (Alive()) {
            WaitForUtility();
        }
    }

private:
    static std::vector<std::uint8_t> ExpectedImage(const Options& options) {
        if (!options.expectedImage.empty()) {
            return options.expectedImage;
        }
        const auto image = g_carriedFirmware.Image();
        return {image.begin(), image.end()};
    }

    bool Alive() const { return !m_stopped && !m_hungUp && !m_done; }

    template <typename Change>
    void Update(Change change) {
        std::lock_guard lock(m_sim.m_mutex);
        change(m_sim.m_summary);
    }

    void Problem(const std::string& text) {
        Trace("problem: " + text);
        Update([&](Summary& s) { s.problems.push_back(text); });
    }

    void Trace(const std::string& text) const {
        if (m_options.trace) {
            m_options.trace(text);
        }
    }

    // --- the line -------------------------------------------------------------------------

    // Sleeps until the time point unless asked to stop; false when asked to stop.
    bool PauseUntil(Clock::time_point until) {
        while (!m_stopped) {
            const auto left = std::chrono::duration_cast<Ms>(until - Clock::now());
            if (left.count() <= 0) {
                // Sub-millisecond rest of a line-speed pause.
                std::this_thread::sleep_until(until);
                return true;
            }
            pollfd stop{m_sim.m_stopPipe[0], POLLIN, 0};
            if (poll(&stop, 1, static_cast<int>(left.count())) > 0) {
                m_stopped = true;
            }
        }
        return false;
    }

    // Lets n bytes take their time on the line starting no earlier than lineFree.
    void LineTime(Clock::time_point& lineFree, std::size_t n) {
        if (!m_options.lineSpeed) {
            return;
        }
        const auto now = Clock::now();
        lineFree = std::max(now, lineFree) +
                   std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double, std::micro>(m_usPerByte * double(n)));
        PauseUntil(lineFree);
    }

    // Sends bytes to the utility; a line that stays blocked for a second drops them.
    bool Send(const std::vector<std::uint8_t>& bytes) {
        if (!Alive()) {
            return false;
        }
        LineTime(m_txFree, bytes.size());
        std::size_t sent = 0;
        const auto deadline = Clock::now() + Ms(1000);
        while (sent < bytes.size()) {
            const ssize_t n = ::write(m_sim.m_master, bytes.data() + sent, bytes.size() - sent);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                Problem(std::string("cannot write to the line: ") + std::strerror(errno));
                return false;
            }
            if (Clock::now() >= deadline) {
                Problem("the line stayed blocked; dropped " + std::to_string(bytes.size() - sent) +
                        " bytes");
                return false;
            }
            pollfd out{m_sim.m_master, POLLOUT, 0};
            poll(&out, 1, 10);
        }
        return true;
    }

    bool SendByte(std::uint8_t b) { return Send({b}); }

    // The next byte from the utility, waiting until the deadline; none when nothing came,
    // the simulator is stopping or the line was hung up.
    std::optional<std::uint8_t> ReadByte(Clock::time_point deadline) {
        while (m_rx.empty()) {
            if (!Alive() || !Fill(deadline)) {
                return std::nullopt;
            }
        }
        const std::uint8_t b = m_rx.front();
        m_rx.pop_front();
        if (m_inUpload) {
            ++m_uploadBytes;
            if (m_options.hangUpAfterBytes >= 0 && m_uploadBytes >= m_options.hangUpAfterBytes) {
                HangUp("after " + std::to_string(m_uploadBytes) + " upload bytes");
                return std::nullopt;
            }
        }
        return b;
    }

    bool Fill(Clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
        pollfd fds[2] = {{m_sim.m_master, POLLIN, 0}, {m_sim.m_stopPipe[0], POLLIN, 0}};
        const int ready = poll(fds, 2, left > 0 ? static_cast<int>(left) : 0);
        if (ready <= 0) {
            return false;
        }
        if (fds[1].revents != 0) {
            m_stopped = true;
            return false;
        }
        std::uint8_t chunk[4096];
        const ssize_t n = ::read(m_sim.m_master, chunk, sizeof chunk);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                return true;
            }
            Problem("the line failed while reading");
            m_hungUp = true;
            return false;
        }
        LineTime(m_rxFree, static_cast<std::size_t>(n));
        m_rx.insert(m_rx.end(), chunk, chunk + n);
        return true;
    }

    // Stands for a pulled cable: both ends of the line go, the utility sees a hang-up.
    void HangUp(const std::string& why) {
        Trace("hanging up " + why);
        ::close(m_sim.m_master);
        ::close(m_sim.m_slave);
        m_sim.m_master = -1;
        m_sim.m_slave = -1;
        m_hungUp = true;
        Update([](Summary& s) { s.hungUp = true; });
    }

    // Received bytes the utility has not read yet.
    int Backlog() const {
        int waiting = 0;
        return ioctl(m_sim.m_slave, FIONREAD, &waiting) == 0 ? waiting : 0;
    }

    // Sends DLE every busyInterval for the given time, starting at once.
    void KeepAlive(Ms busy) {
        if (busy.count() <= 0) {
            return;
        }
        const auto end = Clock::now() + busy;
        for (auto next = Clock::now(); Alive() && next < end; next += m_options.busyInterval) {
            if (!PauseUntil(next)) {
                return;
            }
            SendByte(kDle);
        }
        PauseUntil(end);
    }

    // --- waiting in upgrade mode ----------------------------------------------------------

    void WaitForUtility() {
        const auto now = Clock::now();
        if (m_options.sendReady && now >= m_nextReady) {
            if (Backlog() < m_options.readyBacklogLimit && SendByte(kReady)) {
                Update([](Summary& s) { ++s.readyBytesSent; });
            }
            m_nextReady = now + m_options.readyInterval;
        }
        const auto wake = m_options.sendReady ? m_nextReady : now + Ms(50);
        const auto b = ReadByte(wake);
        if (!b) {
            return;
        }
        if (*b == kStx) {
            ReadReadyFrame();
        } else if (*b == kAck && m_awaitingAck) {
            m_awaitingAck = false;
            Trace("version reply acknowledged");
            Update([](Summary& s) { ++s.versionAcks; });
        } else {
            Problem("unexpected byte " + Hex(*b) + " while waiting");
        }
    }

    // A frame while waiting: the query or the start packet.
    void ReadReadyFrame() {
        const auto kind = ReadByte(Clock::now() + kByteGap);
        if (!kind) {
            Problem("incomplete packet after STX");
        } else if (*kind == kQueryKind) {
            ReadQuery();
        } else if (*kind == kStartKind) {
            ReadStartPacket();
        } else {
            Problem("packet of unknown kind " + Hex(*kind));
        }
    }

    void ReadQuery() {
        const auto etx = ReadByte(Clock::now() + kByteGap);
        const auto sum = ReadByte(Clock::now() + kByteGap);
        if (etx != kEtx || sum != static_cast<std::uint8_t>(kQueryKind + kEtx)) {
            Problem("malformed query");
            return;
        }
        if (!m_options.answerQuery) {
            Trace("query left unanswered");
            return;
        }
        if (!PauseUntil(Clock::now() + m_options.replyDelay)) {
            return;
        }
        std::vector<std::uint8_t> payload{m_options.replyX, m_options.replyY};
        for (char c : m_options.versionDigits.substr(0, 2)) {
            payload.push_back(static_cast<std::uint8_t>(c));
        }
        payload.resize(4, '0');
        std::vector<std::uint8_t> reply{kStx};
        reply.insert(reply.end(), payload.begin(), payload.end());
        reply.push_back(kEtx);
        reply.push_back(FrameChecksum(payload));
        if (m_options.brokenReplyFirst && !m_brokenReplySent) {
            auto broken = reply;
            broken.back() = static_cast<std::uint8_t>(broken.back() + 1);
            Send(broken);
            m_brokenReplySent = true;
        }
        if (Send(reply)) {
            m_awaitingAck = true;
            Trace("query answered with version digits " + m_options.versionDigits);
            Update([](Summary& s) { ++s.queriesAnswered; });
        }
    }

    void ReadStartPacket() {
        std::vector<std::uint8_t> payload{kStartKind};
        std::uint32_t length = 0;
        bool digitsValid = true;
        for (int i = 0; i < 6; ++i) {
            const auto digit = ReadByte(Clock::now() + kByteGap);
            if (!digit) {
                Problem("incomplete start packet");
                return;
            }
            payload.push_back(*digit);
            digitsValid = digitsValid && HexValue(*digit) >= 0;
            length = length * 16 + static_cast<std::uint32_t>(std::max(HexValue(*digit), 0));
        }
        const auto etx = ReadByte(Clock::now() + kByteGap);
        const auto sum = ReadByte(Clock::now() + kByteGap);
        if (!digitsValid || etx != kEtx || sum != FrameChecksum(payload)) {
            Problem("start packet refused: " + std::string(!digitsValid  ? "length digits"
                                                           : etx != kEtx ? "no ETX"
                                                                         : "checksum"));
            return;
        }
        Trace("start packet: image length " + std::to_string(length));
        Update([&](Summary& s) {
            ++s.startPackets;
            s.announcedLength = length;
        });
        if (length == 0 || length > FirmwarePayload::kImageCapacity) {
            Problem("start packet announces " + std::to_string(length) + " bytes");
        }
        RunUpload(length);
    }

    // --- the upload -----------------------------------------------------------------------

    void RunUpload(std::uint32_t length) {
        m_inUpload = true;
        m_uploadBytes = 10;  // the start packet
        KeepAlive(m_options.startBusy);
        if (!m_options.sendGoAhead || !Alive()) {
            m_inUpload = false;
            return;
        }
        SendByte(kEnq);
        std::vector<std::uint8_t> image;
        if (ReceiveImage(length, image)) {
            GiveVerdict(image);
        }
        m_inUpload = false;
    }

    // Takes data packets until length image bytes have been accepted; false when the upload
    // was abandoned or the line went.
    bool ReceiveImage(std::uint32_t length, std::vector<std::uint8_t>& image) {
        int packet = 1;  // the number of the packet now expected
        int refusals = 0;
        bool afterNak = false;
        std::vector<std::uint8_t> refused;  // the last refused valid packet
        while (image.size() < length) {
            std::vector<std::uint8_t> frame;
            if (!ReadDataFrame(frame)) {
                if (Alive()) {
                    Problem("upload abandoned after " + std::to_string(image.size()) +
                            " image bytes");
                }
                return false;
            }
            Update([&](Summary& s) {
                ++s.packetsReceived;
                s.resends += afterNak ? 1 : 0;
            });
            if (HangUpDue()) {
                // The utility's next packet then cannot leave its end, so the pulled cable
                // meets it in mid-write, as a real one would.
                tcflow(m_sim.m_slave, TCOOFF);
            }
            const std::string fault = CheckDataFrame(frame, length - image.size());
            if (!fault.empty()) {
                Problem("packet " + std::to_string(packet) + " refused: " + fault);
                Update([](Summary& s) { ++s.corruptPackets; });
                Refuse();
                afterNak = true;
            } else if (afterNak && !refused.empty() && frame != refused) {
                Problem("packet " + std::to_string(packet) + " resent with other bytes");
            }
            if (fault.empty() && m_options.nak.Refuses(packet) && refusals < m_options.nak.times) {
                ++refusals;
                Trace("packet " + std::to_string(packet) + " refused on purpose (" +
                      std::to_string(refusals) + ")");
                refused = frame;
                Refuse();
                afterNak = true;
            } else if (fault.empty()) {
                SendByte(kAck);
                AppendImage(frame, image);
                Update([&](Summary& s) {
                    ++s.packets;
                    s.imageBytes = image.size();
                });
                ++packet;
                refusals = 0;
                afterNak = false;
                refused.clear();
            }
            if (HangUpAfterPacket()) {
                return false;
            }
        }
        return true;
    }

    // Whether the line is to go once the packet just received has been answered.
    bool HangUpDue() {
        int received = 0;
        Update([&](Summary& s) { received = s.packetsReceived; });
        return m_options.hangUpAfterPackets >= 0 && received >= m_options.hangUpAfterPackets;
    }

    bool HangUpAfterPacket() {
        if (HangUpDue()) {
            // Closing the line would discard an answer still waiting there: let the utility
            // take it and start its next write first.
            const auto deadline = Clock::now() + Ms(500);
            while (Backlog() > 0 && Clock::now() < deadline) {
                std::this_thread::sleep_for(Ms(1));
            }
            std::this_thread::sleep_for(Ms(100));
            int received = 0;
            Update([&](Summary& s) { received = s.packetsReceived; });
            HangUp("after " + std::to_string(received) + " data packets");
            return true;
        }
        return !Alive();
    }

    void Refuse() {
        SendByte(kNak);
        Update([](Summary& s) { ++s.naksSent; });
    }

    // Reads one frame from STX to its checksum byte; the bytes between go into frame with
    // STX, ETX and the checksum. False when nothing came for the idle time.
    bool ReadDataFrame(std::vector<std::uint8_t>& frame) {
        const auto first = ReadByte(Clock::now() + m_options.uploadIdle);
        if (!first) {
            return false;
        }
        frame.push_back(*first);
        if (*first != kStx) {
            // Whatever this is, it is not a packet; take what follows it as one failed frame.
            SkipToSilence(frame);
            return true;
        }
        while (frame.size() < kMaxDataDigits + 2) {
            const auto b = ReadByte(Clock::now() + kByteGap);
            if (!b) {
                return Alive();
            }
            frame.push_back(*b);
            if (*b == kEtx) {
                break;
            }
        }
        if (frame.back() != kEtx) {
            SkipToSilence(frame);
            return true;
        }
        if (const auto sum = ReadByte(Clock::now() + kByteGap)) {
            frame.push_back(*sum);
        }
        return Alive();
    }

    // Takes bytes until the line is quiet for a moment, so that the next packet starts afresh.
    void SkipToSilence(std::vector<std::uint8_t>& frame) {
        while (const auto b = ReadByte(Clock::now() + Ms(50))) {
            frame.push_back(*b);
        }
    }

    // Why a data packet is refused, empty when it is sound.
    static std::string CheckDataFrame(const std::vector<std::uint8_t>& frame, std::size_t left) {
        if (frame.empty() || frame.front() != kStx) {
            return "no STX";
        }
        if (frame.size() < 3 || frame[frame.size() - 2] != kEtx) {
            return frame.size() > kMaxDataDigits + 2 ? "more than 120 image bytes" : "no ETX";
        }
        const std::vector<std::uint8_t> digits(frame.begin() + 1, frame.end() - 2);
        if (digits.empty() || digits.size() % 2 != 0) {
            return "odd or no hex digits";
        }
        for (std::uint8_t d : digits) {
            if (HexValue(d) < 0) {
                return "not an uppercase hex digit: " + Hex(d);
            }
        }
        if (frame.back() != FrameChecksum(digits)) {
            return "checksum";
        }
        if (digits.size() / 2 > left) {
            return "runs past the announced length";
        }
        return {};
    }

    static void AppendImage(const std::vector<std::uint8_t>& frame,
                            std::vector<std::uint8_t>& image) {
        for (std::size_t i = 1; i + 2 < frame.size(); i += 2) {
            image.push_back(
                static_cast<std::uint8_t>(HexValue(frame[i]) * 16 + HexValue(frame[i + 1])));
        }
    }

    void GiveVerdict(const std::vector<std::uint8_t>& image) {
        const bool correct = image == m_expected;
        Trace(std::string("image complete, ") + (correct ? "correct" : "not the expected one"));
        Update([&](Summary& s) {
            s.imageComplete = true;
            s.imageCorrect = correct;
            s.completeCorrectUpload = s.completeCorrectUpload || correct;
        });
        KeepAlive(m_options.verdictBusy);
        std::optional<std::uint8_t> verdict;
        switch (m_options.verdict) {
            case VerdictMode::Judge:
                verdict = correct ? kEot : kCan;
                break;
            case VerdictMode::Reject:
                verdict = kCan;
                break;
            case VerdictMode::Silence:
                break;
            case VerdictMode::Unknown:
                verdict = m_options.unknownVerdictByte;
                break;
        }
        if (verdict && Alive() && SendByte(*verdict)) {
            Trace("verdict " + Hex(*verdict));
            Update([&](Summary& s) { s.verdictSent = verdict; });
        }
        m_done = !m_options.keepRunning;
    }

    ScannerSim& m_sim;
    const Options& m_options;
    const std::vector<std::uint8_t> m_expected;
    const double m_usPerByte;
    std::deque<std::uint8_t> m_rx;
    Clock::time_point m_nextReady{};
    Clock::time_point m_txFree{};
    Clock::time_point m_rxFree{};
    bool m_stopped = false;
    bool m_hungUp = false;
    bool m_done = false;
    bool m_awaitingAck = false;
    bool m_brokenReplySent = false;
    bool m_inUpload = false;
    long m_uploadBytes = 0;
};

ScannerSim::ScannerSim(Options options) : m_options(std::move(options)) {}

ScannerSim::~ScannerSim() {
    Stop();
}

bool ScannerSim::Start(std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error != nullptr) {
            *error = what;
        }
        Stop();
        return false;
    };
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
    }
    m_devicePath = name;
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // Raw from the start: no echo of the utility's bytes before it sets the line up itself.
    termios raw{};
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slave, TCSANOW, &raw);
    if (pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        return fail(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    if (!Publish(error)) {
        Stop();
        return false;
    }
    m_thread = std::thread([this] {
        Session(*this).Run();
        std::lock_guard lock(m_finishMutex);
        m_finished = true;
        m_finishedChanged.notify_all();
    });
    return true;
}

void ScannerSim::Stop() {
    if (m_thread.joinable()) {
        const char stop = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_stopPipe[1], &stop, 1);
        m_thread.join();
    }
    for (int* fd : {&m_master, &m_slave, &m_stopPipe[0], &m_stopPipe[1]}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    Unpublish();
}

bool ScannerSim::WaitFinished(Ms timeout) {
    std::unique_lock lock(m_finishMutex);
    return m_finishedChanged.wait_for(lock, timeout, [this] { return m_finished.load(); });
}

std::string ScannerSim::PortName() const {
    return m_linkPath.empty() ? std::string() : "\\\\.\\COM" + std::to_string(m_options.comNumber);
}

Summary ScannerSim::GetSummary() const {
    std::lock_guard lock(m_mutex);
    return m_summary;
}

bool ScannerSim::Publish(std::string* error) {
    if (m_options.comNumber <= 0) {
        return true;
    }
    namespace fs = std::filesystem;
    const fs::path dir =
        m_options.linkDirectory.empty() ? comports::PortLinkDirectory() : m_options.linkDirectory;
    const fs::path link = dir / ("com" + std::to_string(m_options.comNumber));
    std::error_code ec;
    fs::create_directories(dir, ec);
    const auto status = fs::symlink_status(link, ec);
    if (fs::exists(status)) {
        // A link that leads nowhere is a leftover of an earlier run; anything else is the
        // user's own mapping and stays unless replacing was asked for.
        const bool dangling = fs::is_symlink(status) && !fs::exists(link, ec);
        if (!dangling && !m_options.replaceLink) {
            if (error != nullptr) {
                *error = link.string() + " already exists (use another COM number, or replace it)";
            }
            return false;
        }
    }
    const fs::path temporary =
        dir / (".com" + std::to_string(m_options.comNumber) + ".new" + std::to_string(getpid()));
    fs::remove(temporary, ec);
    fs::create_symlink(m_devicePath, temporary, ec);
    if (!ec) {
        fs::rename(temporary, link, ec);
    }
    if (ec) {
        fs::remove(temporary, ec);
        if (error != nullptr) {
            *error = "cannot publish " + link.string() + ": " + ec.message();
        }
        return false;
    }
    m_linkPath = link;
    return true;
}

void ScannerSim::Unpublish() {
    if (m_linkPath.empty()) {
        return;
    }
    std::error_code ec;
    // Only our own link goes; another simulator may have taken the name meanwhile.
    if (std::filesystem::read_symlink(m_linkPath, ec) == m_devicePath) {
        std::filesystem::remove(m_linkPath, ec);
    }
    m_linkPath.clear();
}

std::string FormatSummary(const Summary& s) {
    std::ostringstream out;
    out << "ready bytes sent:    " << s.readyBytesSent << "\n"
        << "queries answered:    " << s.queriesAnswered << " (acknowledged " << s.versionAcks
        << ")\n"
        << "start packets:       " << s.startPackets << " (announced length " << s.announcedLength
        << ")\n"
        << "data packets:        " << s.packets << " accepted, " << s.packetsReceived
        << " received, " << s.resends << " resends, " << s.naksSent << " NAKs, " << s.corruptPackets
        << " corrupt\n"
        << "image bytes:         " << s.imageBytes << (s.imageComplete ? " (complete)" : "") << "\n"
        << "image correct:       " << (s.imageCorrect ? "yes" : "no") << "\n"
        << "verdict sent:        " << (s.verdictSent ? Hex(*s.verdictSent) : "none") << "\n"
        << "hung up:             " << (s.hungUp ? "yes" : "no") << "\n"
        << "problems:            " << s.problems.size() << "\n";
    for (const auto& problem : s.problems) {
        out << "  " << problem << "\n";
    }
    return out.str();
}

}  // namespace scannersim
