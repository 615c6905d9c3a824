// The simulated scanner's side of the conversation on its line: waiting in upgrade mode with
// ready bytes, the version reply, the upload and the verdict, with every fault option.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "scanner_sim.h"
#include "sim_line.h"
#include "sim_packets.h"

namespace scannersim {

// One run of the scanner on the simulator's thread, until it is stopped, the line goes, or
// (unless it keeps running) the verdict is given. What it sees goes into summary, under
// summaryMutex.
class Session {
public:
    Session(const Options& options, SimLine& line, std::mutex& summaryMutex, Summary& summary);

    // Runs the scanner.
    void Run();

private:
    // The line as the packet reader sees it; upload bytes count towards a hang-up.
    class LineSource : public IByteSource {
    public:
        explicit LineSource(Session& session) : m_session(session) {}
        std::optional<std::uint8_t> Next(Ms wait) override {
            const auto b = m_session.ReadByte(Clock::now() + wait);
            taken += b ? 1 : 0;
            return b;
        }
        long taken = 0;  // bytes handed out so far

    private:
        Session& m_session;
    };

    bool Alive() const { return !m_line.Stopped() && !m_line.HungUp() && !m_done; }

    template <typename Change>
    void Update(Change change) {
        std::lock_guard lock(m_summaryMutex);
        change(m_summary);
    }

    void Problem(const std::string& text);
    void Trace(const std::string& text) const;

    bool Send(const std::vector<std::uint8_t>& bytes);
    bool SendByte(std::uint8_t b) { return Send({b}); }
    std::optional<std::uint8_t> ReadByte(Clock::time_point deadline, bool endOnOpenOrClose = false);
    void Unexpected(long bytes);
    void HangUp(const std::string& why);
    void KeepAlive(Ms busy);

    bool ReadyDue(Clock::time_point now);
    void WaitForUtility();
    void ReadReadyFrame();
    void AnswerQuery();
    void RunUpload(std::uint32_t length);
    bool ReceiveImage(std::uint32_t length, std::vector<std::uint8_t>& image);
    bool HangUpDue();
    bool HangUpAfterPacket();
    void Refuse();
    void GiveVerdict(const std::vector<std::uint8_t>& image);

    const Options& m_options;
    SimLine& m_line;
    std::mutex& m_summaryMutex;
    Summary& m_summary;
    const std::vector<std::uint8_t> m_expected;  // the image a correct upload delivers
    LineSource m_source{*this};
    Clock::time_point m_nextReady{};
    bool m_done = false;
    bool m_awaitingAck = false;
    bool m_brokenReplySent = false;
    bool m_inUpload = false;
    long m_uploadBytes = 0;
};

}  // namespace scannersim
