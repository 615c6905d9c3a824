#include "console.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <vector>

#include "exchange_support.h"
#include "link_frame.h"

using exchange::detail::Format;

namespace {

// A board row longer than this would wrap on an 80-column terminal and push the rows apart.
constexpr std::size_t kBoardRowWidth = 79;
constexpr std::uint32_t kRedrawIntervalMs = 100;  // at most ten redraws a second
constexpr int kBarWidth = 10;                     // marks of the bar, one per 10 %
constexpr std::size_t kLongestAnswer = 1024;      // the rest of a longer typed line is dropped

// One byte at a time, so that nothing after the line is taken from standard input.
class StandardInput final : public ITerminalInput {
public:
    explicit StandardInput(ConsoleInterrupts& interrupts) : m_interrupts(interrupts) {}
    LineRead ReadLine(std::string& line) override {
        line.clear();
        for (char c = 0;;) {
            switch (ReadStandardInputByte(c, m_interrupts)) {
                case LineRead::kLine:
                    if (c == '\n') {
                        return LineRead::kLine;
                    }
                    if (line.size() < kLongestAnswer) {
                        line += c;
                    }
                    break;
                case LineRead::kEnd:
                    return line.empty() ? LineRead::kEnd : LineRead::kLine;
                case LineRead::kInterrupted:
                    return LineRead::kInterrupted;
            }
        }
    }

private:
    ConsoleInterrupts& m_interrupts;
};

}  // namespace

std::unique_ptr<ITerminalInput> CreateStandardInput(ConsoleInterrupts& interrupts) {
    return std::make_unique<StandardInput>(interrupts);
}

struct Console::Shared {
    Shared(std::ostream& o, std::ostream& e, ConsoleModes m) : out(o), err(e), modes(m) {}

    // The escape that moves the cursor to the first column of the board's first row.
    std::string ToBoardTop() const {
        return board.size() > 1 ? "\x1b[" + std::to_string(board.size() - 1) + "A\r" : "\r";
    }
    void DrawBoard() {
        std::string text = boardDrawn ? ToBoardTop() : std::string();
        for (std::size_t row = 0; row < board.size(); ++row) {
            text += board[row] + "\x1b[K" + (row + 1 < board.size() ? "\n" : "");
        }
        err << text << std::flush;
        boardDrawn = true;
    }
    void EndLine() {
        if (lineOpen) {
            err << '\n' << std::flush;
            lineOpen = false;
            openLength = 0;
        }
    }

    std::ostream& out;
    std::ostream& err;
    const ConsoleModes modes;
    std::mutex mutex;  // whole lines from every port's thread
    bool lineOpen = false;
    std::size_t openLength = 0;
    std::vector<std::string> board;  // one row per port while open
    bool boardDrawn = false;
};

// UPDATE's progress window on the console. Moving the bar back (to 0 as the verdict wait
// begins) draws nothing: the line stays at 100 %.
class Console::Progress final : public exchange::IProgressWindow {
public:
    Progress(Console& console, exchange::IClock& clock)
        : m_console(console), m_clock(clock), m_startTick(clock.GetTickCount()) {}
    ~Progress() override { m_console.EndRedrawnLine(); }  // the verdict on a line of its own

    void SetRange32(int low, int high) override {
        m_low = low;
        m_total = high - low;
        m_done = 0;
        m_startTick = m_clock.GetTickCount();  // the transfer begins with the range
    }
    void SetPos(int position) override {
        const bool forward = position - m_low > m_done;
        m_done = position - m_low;
        if (!forward) {
            return;
        }
        const std::uint32_t elapsed = m_clock.GetTickCount() - m_startTick;
        if (m_console.RedrawsLines()) {
            Redraw(elapsed);
        } else if (Percent() / 10 > m_lastDecade) {
            m_lastDecade = Percent() / 10;
            m_console.Alert(
                Format("%s: %d %% (%d of %d bytes, %d of %d packets, %s elapsed, about %s left)",
                       m_caption.c_str(), Percent(), m_done, m_total, Packets(m_done),
                       Packets(m_total), FormatDuration(elapsed).c_str(), Left(elapsed).c_str()));
        }
    }
    void SetCaption(const std::string& caption) override {
        m_caption = caption;
        m_console.Alert(caption);
        m_drawn = false;
    }

private:
    int Percent() const {
        return m_total > 0 ? static_cast<int>(std::clamp(m_done, 0, m_total) * 100LL / m_total) : 0;
    }
    // The data packets that carry bytes image bytes, at most the whole image's.
    int Packets(int bytes) const {
        return static_cast<int>(
            scanlink::DataPacketCount(static_cast<std::uint32_t>(std::clamp(bytes, 0, m_total))));
    }
    // The time still to go at the pace so far.
    std::string Left(std::uint32_t elapsed) const {
        if (m_done <= 0 || m_total <= 0) {
            return "-:--";
        }
        const long long left = m_total - std::clamp(m_done, 0, m_total);
        return FormatDuration(static_cast<std::uint32_t>(elapsed * left / m_done));
    }
    // The bar line, or the port's row, at most ten times a second and always at the end.
    void Redraw(std::uint32_t elapsed) {
        const std::uint32_t now = m_clock.GetTickCount();
        if (m_drawn && m_done < m_total && now - m_lastDrawTick < kRedrawIntervalMs) {
            return;
        }
        const int filled = Percent() * kBarWidth / 100;
        const std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                                std::string(static_cast<std::size_t>(kBarWidth - filled), '-') +
                                "]";
        if (m_console.m_row >= 0) {
            m_console.Redraw(Format("%s %3d %% %d/%d packets %s left", bar.c_str(), Percent(),
                                    Packets(m_done), Packets(m_total), Left(elapsed).c_str()));
        } else {
            m_console.Redraw(Format("%s %3d %% %d/%d bytes %d/%d packets %s elapsed %s left",
                                    bar.c_str(), Percent(), m_done, m_total, Packets(m_done),
                                    Packets(m_total), FormatDuration(elapsed).c_str(),
                                    Left(elapsed).c_str()));
        }
        m_drawn = true;
        m_lastDrawTick = now;
    }

    Console& m_console;
    exchange::IClock& m_clock;
    std::uint32_t m_startTick;
    std::uint32_t m_lastDrawTick = 0;
    bool m_drawn = false;
    int m_low = 0;
    int m_total = 0;
    int m_done = 0;
    int m_lastDecade = 0;
    std::string m_caption;
};

Console::Console(std::ostream& out, std::ostream& err, ConsoleModes modes,
                 ConsoleInterrupts& interrupts, ITerminalInput& input)
    : m_own(std::make_unique<Shared>(out, err, modes)),
      m_shared(m_own.get()),
      m_interrupts(&interrupts),
      m_input(&input) {}

Console::Console(Console& run, const std::string& label, int row)
    : m_shared(run.m_shared),
      m_portInterrupts(std::make_unique<ConsoleInterrupts>(*run.m_interrupts)),
      m_interrupts(m_portInterrupts.get()),
      m_input(nullptr),
      m_prefix(label + ": "),
      m_row(row) {
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    if (m_row >= 0 && static_cast<std::size_t>(m_row) < m_shared->board.size()) {
        m_shared->board[static_cast<std::size_t>(m_row)] = m_prefix + "-";  // until it has progress
    }
}

Console::~Console() = default;

std::string Console::Prefixed(const std::string& text) const {
    if (m_prefix.empty()) {
        return text;
    }
    // Every line of a message carries the port, so that lines of several ports stay apart.
    std::string prefixed = m_prefix;
    for (const char c : text) {
        prefixed += c;
        if (c == '\n') {
            prefixed += m_prefix;
        }
    }
    return prefixed;
}

void Console::Print(std::ostream& stream, const std::string& text) {
    Shared& s = *m_shared;
    const std::lock_guard<std::mutex> lock(s.mutex);
    const bool board = s.boardDrawn;
    if (board) {
        s.err << s.ToBoardTop() << "\x1b[J" << std::flush;  // the line goes where the board stood
        s.boardDrawn = false;
    }
    s.EndLine();
    s.out << std::flush;  // what came before on standard output stays before it on a terminal
    stream << Prefixed(text) << '\n' << std::flush;
    if (board) {
        s.DrawBoard();  // below the line
    }
}

void Console::Line(const std::string& text) {
    if (!m_shared->modes.json) {  // the JSON document carries it
        Print(m_shared->out, text);
    }
}

void Console::Note(const std::string& text) {
    if (!m_shared->modes.quiet) {
        Alert(text);
    }
}

void Console::Alert(const std::string& text) {
    Print(m_shared->err, text);
}

bool Console::Ask(const std::string& text) {
    const ConsoleModes& modes = m_shared->modes;
    Line(text);
    if (modes.assumeYes) {
        Note("(answered Yes: --yes)");
        return true;
    }
    if (!modes.inIsTerminal || m_input == nullptr) {
        Alert("(answered No: standard input is no terminal and --yes was not given)");
        return false;
    }
    if (!modes.outIsTerminal || modes.json) {
        Alert(text);  // read where it is answered, not only in a file or a pipe
    }
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(m_shared->mutex);
            m_shared->EndLine();
            m_shared->out << std::flush;
            m_shared->err << "[y/N] " << std::flush;
        }
        std::string answer;
        switch (m_input->ReadLine(answer)) {
            case LineRead::kLine:
                return IsYesAnswer(answer);
            case LineRead::kEnd:
                Alert("");
                return false;
            case LineRead::kInterrupted:
                Alert("");
                m_interrupts->Check();  // ends here; anything else asks again
                break;
        }
    }
}

std::unique_ptr<exchange::IProgressWindow> Console::CreateProgress(exchange::IClock& clock) {
    if (m_shared->modes.quiet) {
        return nullptr;  // the upload counts its bytes itself
    }
    return std::make_unique<Progress>(*this, clock);
}

void Console::Redraw(const std::string& text) {
    Shared& s = *m_shared;
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (m_row >= 0) {
        if (static_cast<std::size_t>(m_row) < s.board.size()) {
            s.board[static_cast<std::size_t>(m_row)] = Prefixed(text).substr(0, kBoardRowWidth);
            s.DrawBoard();
        }
        return;
    }
    // Blanks over what is left of a longer line before it, rather than an escape sequence
    // that not every console understands.
    const std::size_t blanks = s.openLength > text.size() ? s.openLength - text.size() : 0;
    s.err << '\r' << text << std::string(blanks, ' ') << std::flush;
    s.lineOpen = true;
    s.openLength = text.size();
}

void Console::EndRedrawnLine() {
    if (m_row >= 0) {
        return;  // a port's row stays on the board until the run closes it
    }
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->EndLine();
}

bool Console::RedrawsLines() const {
    return m_shared->modes.errIsTerminal && (m_row < 0 || m_shared->modes.cursorMoves);
}

void Console::OpenBoard(int rows) {
    Shared& s = *m_shared;
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.EndLine();
    s.board.assign(static_cast<std::size_t>(std::max(rows, 0)), std::string());
    s.boardDrawn = false;
}

void Console::CloseBoard() {
    Shared& s = *m_shared;
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (s.boardDrawn) {
        s.err << '\n' << std::flush;
    }
    s.board.clear();
    s.boardDrawn = false;
}

bool Console::AssumesYes() const {
    return m_shared->modes.assumeYes;
}

bool IsYesAnswer(const std::string& answer) {
    std::string word;
    for (const char c : answer) {
        word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const char* const blanks = " \t\n\v\f\r";  // what std::isspace takes for blanks
    word.erase(0, word.find_first_not_of(blanks));
    word.erase(word.find_last_not_of(blanks) + 1);
    return word == "y" || word == "yes";
}

std::string FormatDuration(std::uint32_t ms) {
    const std::uint32_t seconds = ms / 1000;
    return Format("%u:%02u", seconds / 60, seconds % 60);
}
