// A simulated TR-520/521 in its "CPU SW Upgrade" mode, at the far end of a pseudo-terminal.
// It sends the ready byte, answers the version query, takes the start and data packets,
// checks every byte it receives, and gives the verdict, with selectable misbehaviour.
// Use it in-process (ScannerSim) or through the tr520-scanner-sim program. Its line lives in
// sim_line.h, its side of the conversation in sim_session.h, its packet reader in sim_packets.h.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace scannersim {

using Ms = std::chrono::milliseconds;

class SimLine;

// What the scanner answers once the whole image has arrived (after any keep-alives).
enum class VerdictMode {
    Judge,    // EOT when the image matches the expected one, else CAN
    Reject,   // CAN whatever arrived
    Silence,  // nothing at all
    Unknown,  // Options::unknownVerdictByte
};

// Which data packets the scanner refuses: packet p (1-based, counting distinct packets) is
// refused when every > 0 and p is a multiple of every, or when p equals packet. A refused
// packet is answered NAK for its first times sends, then ACK.
struct NakRule {
    int every = 0;
    int packet = 0;
    int times = 1;
    // Whether packet p is refused.
    bool Refuses(int p) const {
        return (every > 0 && p % every == 0) || (packet > 0 && p == packet);
    }
};

// Every selectable behaviour of the simulated scanner.
struct Options {
    // Publishes the pseudo-terminal as link comN in linkDirectory (0: not published).
    int comNumber = 0;
    // Where the COM link goes; empty: the utility's per-user port link directory.
    std::filesystem::path linkDirectory;
    // Replaces an existing comN entry that is not a stale link of ours.
    bool replaceLink = false;
    // Serves this existing terminal device (a USB gadget's /dev/ttyGS0, another program's
    // pseudo-terminal) instead of a pseudo-terminal of its own; empty: a pseudo-terminal. Such
    // a line is not published, and the hang-up options cannot pull it.
    std::string devicePath;

    // The image a correct upload must deliver; empty: the utility's carried image.
    std::vector<std::uint8_t> expectedImage;

    bool sendReady = true;       // false: never send 'C' (the scanner is not in upgrade mode)
    Ms readyInterval{30};        // between two ready bytes while waiting
    int readyBacklogLimit = 16;  // no ready byte while this many wait unread at the utility

    bool answerQuery = true;           // false: the query goes unanswered
    std::string versionDigits = "10";  // D1 D2 of the reply, sent as they stand
    std::uint8_t replyX = 0x52;        // the two bytes the utility does not interpret
    std::uint8_t replyY = 0x35;
    Ms replyDelay{0};               // before each reply
    bool brokenReplyFirst = false;  // one reply with a wrong checksum before the first good one

    Ms startBusy{0};          // DLE keep-alives for this long after the start packet, then ENQ
    bool sendGoAhead = true;  // false: no ENQ after the start packet
    Ms busyInterval{300};     // between two keep-alives

    NakRule nak;  // which data packets are refused, and how often

    VerdictMode verdict = VerdictMode::Judge;
    std::uint8_t unknownVerdictByte = '?';
    Ms verdictBusy{0};  // DLE keep-alives for this long before the verdict

    int hangUpAfterPackets = -1;  // close the line once this many data packets have arrived
    long hangUpAfterBytes = -1;   // close the line once this many upload bytes have arrived

    bool lineSpeed = false;  // let bytes take their time on the line in both directions
    int baudRate = 115200;   // 10 bits per byte: 86.8 us at 115200
    // The line behaves like a device: left in the terminal's default settings (echo on), with
    // no end of ours held open, and bytes sent only while the utility has it open, the first
    // ready byte 2 ms after its open. What the utility's line discipline echoes
    // back then reaches the scanner, as on a real cable, and counts as unexpected bytes.
    bool deviceLike = false;

    // After the verdict: back to waiting for the next upload instead of finishing.
    bool keepRunning = false;
    // An upload that receives nothing for this long is abandoned and the scanner waits again.
    Ms uploadIdle{3000};

    // Called on the simulator's thread with one line per event; empty: silent.
    std::function<void(const std::string&)> trace;
};

// What the simulated scanner saw and did, so far or in all.
struct Summary {
    int readyBytesSent = 0;
    int queriesAnswered = 0;
    int versionAcks = 0;   // ACKs received after a version reply
    int startPackets = 0;  // valid start packets
    std::uint32_t announcedLength = 0;
    int packets = 0;          // data packets accepted (ACK sent)
    int packetsReceived = 0;  // every data packet received, resends and refused ones included
    int resends = 0;          // data packets received again after a NAK
    int naksSent = 0;
    int corruptPackets = 0;                   // data packets that failed a check (answered NAK)
    std::size_t imageBytes = 0;               // image bytes accepted in the last upload
    bool imageComplete = false;               // the last upload delivered the announced length
    bool imageCorrect = false;                // ... and it matches the expected image
    std::optional<std::uint8_t> verdictSent;  // the last verdict byte sent
    bool completeCorrectUpload = false;       // some upload delivered the expected image entirely
    bool hungUp = false;
    // Bytes received that belong to nothing the scanner expects: stray bytes while it waits
    // and the bytes of refused frames, also among those still unread when it ends.
    long unexpectedBytes = 0;
    std::vector<std::string> problems;  // every protocol violation seen, in order
};

// The simulated scanner on its own thread. Start it, let the utility talk to it, then Stop
// (or wait for Finished) and read the summary.
class ScannerSim {
public:
    explicit ScannerSim(Options options);
    // Stops the thread and removes the published link.
    ~ScannerSim();
    ScannerSim(const ScannerSim&) = delete;
    ScannerSim& operator=(const ScannerSim&) = delete;

    // Creates the pseudo-terminal (or opens Options::devicePath), publishes the link and
    // starts the thread; false with a message in *error when any of it fails.
    bool Start(std::string* error);
    // Ends the thread (if it still runs), closes the line and removes the link.
    void Stop();
    // Waits up to timeout for the scanner to finish on its own (verdict or hang-up).
    bool WaitFinished(Ms timeout);
    // Whether the thread has ended.
    bool Finished() const { return m_finished; }

    // The device the utility opens (/dev/pts/N), or the existing device served.
    const std::string& DevicePath() const;
    // The published link, empty when none.
    const std::filesystem::path& LinkPath() const;
    // The port name the utility would use, "\\.\COMn" (empty when not published).
    std::string PortName() const;
    // A copy of the summary so far.
    Summary GetSummary() const;
    // The summary so far, and counting afresh from now on.
    Summary TakeSummary();

private:
    Options m_options;
    std::unique_ptr<SimLine> m_line;  // the pseudo-terminal and its COM link
    std::thread m_thread;
    std::atomic<bool> m_finished{false};
    mutable std::mutex m_mutex;
    Summary m_summary;
    std::mutex m_finishMutex;
    std::condition_variable m_finishedChanged;
};

// The summary as lines of text, as the program prints it.
std::string FormatSummary(const Summary& summary);

}  // namespace scannersim
