#include "scanner_sim.h"

#include <sstream>
#include <utility>

#include "sim_line.h"
#include "sim_packets.h"
#include "sim_session.h"

namespace scannersim {

ScannerSim::ScannerSim(Options options)
    : m_options(std::move(options)),
      m_line(std::make_unique<SimLine>(m_options.lineSpeed, m_options.baudRate,
                                       m_options.deviceLike)) {}

ScannerSim::~ScannerSim() {
    Stop();
}

bool ScannerSim::Start(std::string* error) {
    const bool opened = m_options.devicePath.empty()
                            ? m_line->Open(error)
                            : m_line->OpenDevice(m_options.devicePath, error);
    if (!opened ||
        (m_options.devicePath.empty() && m_options.comNumber > 0 &&
         !m_line->Publish(m_options.comNumber, m_options.linkDirectory, m_options.replaceLink,
                          error))) {
        Stop();
        return false;
    }
    m_thread = std::thread([this] {
        Session(m_options, *m_line, m_mutex, m_summary).Run();
        std::lock_guard lock(m_finishMutex);
        m_finished = true;
        m_finishedChanged.notify_all();
    });
    return true;
}

void ScannerSim::Stop() {
    if (m_thread.joinable()) {
        m_line->RequestStop();
        m_thread.join();
    }
    m_line->Close();
    m_line->Unpublish();
}

bool ScannerSim::WaitFinished(Ms timeout) {
    std::unique_lock lock(m_finishMutex);
    return m_finishedChanged.wait_for(lock, timeout, [this] { return m_finished.load(); });
}

const std::string& ScannerSim::DevicePath() const {
    return m_line->DevicePath();
}

const std::filesystem::path& ScannerSim::LinkPath() const {
    return m_line->LinkPath();
}

std::string ScannerSim::PortName() const {
    return LinkPath().empty() ? std::string()
                              : "\\\\.\\COM" + std::to_string(m_options.comNumber);
}

Summary ScannerSim::GetSummary() const {
    std::lock_guard lock(m_mutex);
    return m_summary;
}

Summary ScannerSim::TakeSummary() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_summary, Summary{});
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
        << "unexpected bytes:    " << s.unexpectedBytes << "\n"
        << "problems:            " << s.problems.size() << "\n";
    for (const auto& problem : s.problems) {
        out << "  " << problem << "\n";
    }
    return out.str();
}

}  // namespace scannersim
