// The progress window of UPDATE on standard error: a bar redrawn on one line when standard
// error is a terminal, a plain line every 10 % otherwise.
#pragma once

#include <cstdint>
#include <string>

#include "console_output.h"
#include "exchange_io.h"

// Where an upload stands, as the progress lines show it.
struct ProgressFigures {
    int position = 0;  // image bytes accepted so far
    int total = 0;     // the image length
    std::uint32_t elapsedMs = 0;
    int bytesPerPacket = 120;

    // Whole per cent done, 0 to 100.
    int Percent() const;
    // Data packets accepted so far and in all.
    int PacketsDone() const;
    int PacketsInAll() const;
    // The time still to go at the pace so far; none before the first byte.
    bool HasEstimate() const { return position > 0 && total > 0; }
    std::uint32_t LeftMs() const;
};

// Milliseconds as minutes and seconds, "m:ss".
std::string FormatDuration(std::uint32_t ms);
// The redrawn line: "[#####-----]  50 % 29931/59862 bytes 250/499 packets 0:05 elapsed 0:05 left".
std::string FormatBarLine(const ProgressFigures& figures);
// A port's row among several: "[#####-----]  50 % 250/499 packets 0:05 left".
std::string FormatBoardLine(const ProgressFigures& figures);
// The plain line: "Upgrading CPU: 50 % (29931 of 59862 bytes, 250 of 499 packets, 0:05 elapsed,
// about 0:05 left)".
std::string FormatPlainLine(const std::string& caption, const ProgressFigures& figures);

// IProgressWindow on the console. The caption goes on a line of its own; the bar, after it.
// Moving the bar back (to 0 as the verdict wait begins) draws nothing: the line stays at 100 %.
// With --quiet it draws nothing at all and only keeps count.
class ConsoleProgress final : public exchange::IProgressWindow {
public:
    // clock times the upload for elapsed and left. acceptedBytes, when given, follows the
    // highest position the bar reached: the image bytes the scanner accepted.
    ConsoleProgress(ConsoleOutput& output, exchange::IClock& clock, int* acceptedBytes = nullptr);
    // Ends a redrawn line, so that the verdict starts on a line of its own.
    ~ConsoleProgress() override;

    void SetRange32(int low, int high) override;
    void SetPos(int position) override;
    void SetCaption(const std::string& caption) override;

    static constexpr std::uint32_t kRedrawIntervalMs = 100;  // at most ten redraws a second

private:
    ProgressFigures Figures(int position) const;
    void Redraw(const ProgressFigures& figures);
    void PrintDecade(const ProgressFigures& figures);

    ConsoleOutput& m_output;
    exchange::IClock& m_clock;
    int* m_acceptedBytes;
    std::uint32_t m_startTick;
    std::uint32_t m_lastDrawTick = 0;
    bool m_drawn = false;
    int m_low = 0;
    int m_high = 0;
    int m_position = 0;
    int m_lastDecade = 0;
    std::string m_caption;
};
