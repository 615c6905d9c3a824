// The simulated scanner's end of the serial line: the pseudo-terminal whose other end the
// utility opens, the COM link that publishes it, and the time bytes take at line speed.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace scannersim {

using Clock = std::chrono::steady_clock;

// One line; Open and Publish before the simulator's thread starts, Close after it ended.
class SimLine {
public:
    // With lineSpeed, each byte takes 10 bits' time at baudRate in both directions.
    SimLine(bool lineSpeed, int baudRate);
    // Closes what is still open.
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Creates the pseudo-terminal, raw from the start, and the stop pipe; false with a message
    // in *error.
    bool Open(std::string* error);
    // Serves the existing terminal device path instead, made raw, with what waited on it
    // discarded; false with a message in *error.
    bool OpenDevice(const std::string& path, std::string* error);
    // Publishes the line as the link comN in dir (empty: the utility's port link directory);
    // an existing entry stays unless it is a stale link or replace is set.
    bool Publish(int comNumber, const std::filesystem::path& dir, bool replace,
                 std::string* error);
    // Removes the published link, if it still leads to this line.
    void Unpublish();
    // Wakes the simulator's thread from any wait on the line and ends its waits; any thread.
    void RequestStop();
    // Closes the pseudo-terminal and the stop pipe.
    void Close();

    // The device the utility opens (/dev/pts/N).
    const std::string& DevicePath() const { return m_devicePath; }
    // The published link, empty when none.
    const std::filesystem::path& LinkPath() const { return m_linkPath; }

    // The calls below run on the simulator's thread.

    // Receives each failure of the line as one line of text.
    std::function<void(const std::string&)> onProblem;
    // Sleeps until the time point unless asked to stop; false when asked to stop.
    bool PauseUntil(Clock::time_point until);
    // Sends bytes to the utility; a line that stays blocked for a second drops them.
    bool Send(const std::vector<std::uint8_t>& bytes);
    // The next byte from the utility, waiting until the deadline; none when nothing came, the
    // simulator is stopping or the line was hung up.
    std::optional<std::uint8_t> ReadByte(Clock::time_point deadline);
    // Received bytes the utility has not read yet.
    int Backlog() const;
    // Stands for a pulled cable: both ends of the line go, the utility sees a hang-up.
    void HangUp();
    // Stops the utility's output from leaving its end, as a cable about to be pulled.
    void HoldUtilityOutput();
    // Whether a stop was asked for.
    bool Stopped() const { return m_stopped; }
    // Whether the line has gone.
    bool HungUp() const { return m_hungUp; }

private:
    bool Fill(Clock::time_point deadline);
    void LineTime(Clock::time_point& lineFree, std::size_t n);
    void Problem(const std::string& text);

    const bool m_lineSpeed;
    const double m_usPerByte;  // microseconds one byte takes on the line
    int m_master = -1;
    int m_slave = -1;  // held open so the line survives the utility closing its end (own pty)
    int m_stopPipe[2] = {-1, -1};
    std::string m_devicePath;
    std::filesystem::path m_linkPath;
    std::deque<std::uint8_t> m_rx;
    Clock::time_point m_txFree{};
    Clock::time_point m_rxFree{};
    bool m_stopped = false;
    bool m_hungUp = false;
};

}  // namespace scannersim
