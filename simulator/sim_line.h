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
    // With lineSpeed, each byte takes 10 bits' time at baudRate in both directions. A
    // device-like line is left in the terminal's default settings (echo on), holds no
    // descriptor of its own on the utility's end, and carries bytes only while the utility has
    // that end open, as a device's driver does; otherwise it is raw from the start and always up.
    SimLine(bool lineSpeed, int baudRate, bool deviceLike = false);
    // Closes what is still open.
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Creates the pseudo-terminal (raw from the start unless device-like) and the stop pipe;
    // false with a message in *error.
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
    // Sends bytes to the utility; a line that stays blocked for a second drops them, and so
    // does a device-like line that nobody has open (false then, with no problem).
    bool Send(const std::vector<std::uint8_t>& bytes);
    // The next byte from the utility, waiting until the deadline; none when nothing came, the
    // simulator is stopping or the line was hung up. With endOnOpenOrClose a device-like line
    // also ends the wait when the utility opens or closes its end.
    std::optional<std::uint8_t> ReadByte(Clock::time_point deadline, bool endOnOpenOrClose = false);
    // From now on no read waits: only what has arrived is read.
    void StopWaiting() { m_noWait = true; }
    // Whether bytes from the utility have arrived and are not read yet; looks without waiting.
    bool Arrived();
    // Received bytes the utility has not read yet (0 on a device-like line, which cannot say).
    int Backlog() const;
    // Whether the line carries bytes now: always, unless it is device-like and nobody has the
    // utility's end open.
    bool Carries();
    // Since when a device-like line carries bytes, as first seen; none while it does not. A
    // line that is not device-like carries them from the start.
    std::optional<Clock::time_point> CarriesSince();
    // Stands for a pulled cable: both ends of the line go, the utility sees a hang-up.
    void HangUp();
    // Stops the utility's output from leaving its end, as a cable about to be pulled.
    void HoldUtilityOutput();
    // Whether a stop was asked for.
    bool Stopped() const { return m_stopped; }
    // Whether the line has gone.
    bool HungUp() const { return m_hungUp; }

private:
    bool Fill(Clock::time_point deadline, bool endOnOpenOrClose);
    bool ReadWaiting();
    void DrainWatch();
    void LineTime(Clock::time_point& lineFree, std::size_t n);
    void Problem(const std::string& text);

    const bool m_lineSpeed;
    const double m_usPerByte;  // microseconds one byte takes on the line
    const bool m_deviceLike;
    int m_master = -1;
    int m_slave = -1;  // held open so the line survives the utility closing its end; device-like: -1
    int m_watch = -1;  // device-like: inotify on the utility's end, for its opens and closes
    std::optional<Clock::time_point> m_carriesSince;
    bool m_existingDevice = false;  // --device: a terminal device of the system, not our pty
    int m_stopPipe[2] = {-1, -1};
    std::string m_devicePath;
    std::filesystem::path m_linkPath;
    std::vector<std::filesystem::path> m_madeFolders;  // made by Publish, deepest first
    std::deque<std::uint8_t> m_rx;
    Clock::time_point m_txFree{};
    Clock::time_point m_rxFree{};
    bool m_stopped = false;
    bool m_hungUp = false;
    bool m_noWait = false;
};

}  // namespace scannersim
