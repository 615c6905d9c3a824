#include "console_progress.h"

#include <algorithm>

#include "exchange_support.h"

using exchange::detail::Format;

namespace {

constexpr int kBarWidth = 10;

int CeilDiv(int a, int b) {
    return b > 0 ? (a + b - 1) / b : 0;
}

std::string LeftText(const ProgressFigures& figures) {
    return figures.HasEstimate() ? FormatDuration(figures.LeftMs()) : "-:--";
}

// "[#####-----]": one mark per 10 %.
std::string Bar(const ProgressFigures& figures) {
    const int filled = figures.Percent() * kBarWidth / 100;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "]";
}

}  // namespace

int ProgressFigures::Percent() const {
    if (total <= 0) {
        return 0;
    }
    const long long done = std::clamp(position, 0, total);
    return static_cast<int>(done * 100 / total);
}

int ProgressFigures::PacketsDone() const {
    return CeilDiv(std::clamp(position, 0, total), bytesPerPacket);
}

int ProgressFigures::PacketsInAll() const {
    return CeilDiv(total, bytesPerPacket);
}

std::uint32_t ProgressFigures::LeftMs() const {
    if (!HasEstimate()) {
        return 0;
    }
    const long long left = total - std::clamp(position, 0, total);
    return static_cast<std::uint32_t>(static_cast<long long>(elapsedMs) * left / position);
}

std::string FormatDuration(std::uint32_t ms) {
    const std::uint32_t seconds = ms / 1000;
    return Format("%u:%02u", seconds / 60, seconds % 60);
}

std::string FormatBarLine(const ProgressFigures& figures) {
    return Format("%s %3d %% %d/%d bytes %d/%d packets %s elapsed %s left", Bar(figures).c_str(),
                  figures.Percent(), figures.position, figures.total, figures.PacketsDone(),
                  figures.PacketsInAll(), FormatDuration(figures.elapsedMs).c_str(),
                  LeftText(figures).c_str());
}

std::string FormatBoardLine(const ProgressFigures& figures) {
    return Format("%s %3d %% %d/%d packets %s left", Bar(figures).c_str(), figures.Percent(),
                  figures.PacketsDone(), figures.PacketsInAll(), LeftText(figures).c_str());
}

std::string FormatPlainLine(const std::string& caption, const ProgressFigures& figures) {
    return Format("%s: %d %% (%d of %d bytes, %d of %d packets, %s elapsed, about %s left)",
                  caption.c_str(), figures.Percent(), figures.position, figures.total,
                  figures.PacketsDone(), figures.PacketsInAll(),
                  FormatDuration(figures.elapsedMs).c_str(), LeftText(figures).c_str());
}

ConsoleProgress::ConsoleProgress(ConsoleOutput& output, exchange::IClock& clock, int* acceptedBytes)
    : m_output(output),
      m_clock(clock),
      m_acceptedBytes(acceptedBytes),
      m_startTick(clock.GetTickCount()) {}

ConsoleProgress::~ConsoleProgress() {
    if (!m_output.Quiet()) {
        m_output.EndRedrawnLine();
    }
}

void ConsoleProgress::SetRange32(int low, int high) {
    m_low = low;
    m_high = high;
    m_position = low;
    m_startTick = m_clock.GetTickCount();  // the transfer begins with the range
}

void ConsoleProgress::SetPos(int position) {
    if (position <= m_position) {
        m_position = position;
        return;
    }
    m_position = position;
    if (m_acceptedBytes != nullptr) {
        *m_acceptedBytes = position - m_low;
    }
    if (m_output.Quiet()) {
        return;
    }
    const ProgressFigures figures = Figures(position);
    if (m_output.RedrawsLines()) {
        Redraw(figures);
    } else {
        PrintDecade(figures);
    }
}

void ConsoleProgress::SetCaption(const std::string& caption) {
    m_caption = caption;
    if (m_output.Quiet()) {
        return;
    }
    m_output.Alert(caption);
    m_drawn = false;
}

ProgressFigures ConsoleProgress::Figures(int position) const {
    ProgressFigures figures;
    figures.position = position - m_low;
    figures.total = m_high - m_low;
    figures.elapsedMs = m_clock.GetTickCount() - m_startTick;
    return figures;
}

void ConsoleProgress::Redraw(const ProgressFigures& figures) {
    const std::uint32_t now = m_clock.GetTickCount();
    const bool last = figures.position >= figures.total;
    if (m_drawn && !last && now - m_lastDrawTick < kRedrawIntervalMs) {
        return;
    }
    m_output.Redraw(m_output.OnBoard() ? FormatBoardLine(figures) : FormatBarLine(figures));
    m_drawn = true;
    m_lastDrawTick = now;
}

void ConsoleProgress::PrintDecade(const ProgressFigures& figures) {
    const int decade = figures.Percent() / 10;
    if (decade > m_lastDecade) {
        m_lastDecade = decade;
        m_output.Alert(FormatPlainLine(m_caption, figures));
    }
}
