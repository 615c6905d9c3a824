#include "console_output.h"

#include <algorithm>

namespace {

// A board row longer than this would wrap on an 80-column terminal and push the rows apart.
constexpr std::size_t kBoardRowWidth = 79;

}  // namespace

struct ConsoleOutput::Shared {
    Shared(std::ostream& o, std::ostream& e, bool terminal, bool q, OutputModes m)
        : out(o), err(e), errIsTerminal(terminal), quiet(q), modes(m) {}

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
    // Takes the board off the screen for a line to be written where it stood.
    void LiftBoard() {
        if (boardDrawn) {
            err << ToBoardTop() << "\x1b[J" << std::flush;
            boardDrawn = false;
            boardLifted = true;
        }
    }
    // Draws the board again below the line just written.
    void RestoreBoard() {
        if (boardLifted) {
            boardLifted = false;
            DrawBoard();
        }
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
    const bool errIsTerminal;
    const bool quiet;
    const OutputModes modes;
    std::mutex mutex;  // whole lines from every port's thread
    bool lineOpen = false;
    std::size_t openLength = 0;
    std::vector<std::string> board;  // one row per port while open
    bool boardDrawn = false;
    bool boardLifted = false;
};

ConsoleOutput::ConsoleOutput(std::ostream& out, std::ostream& err, bool errIsTerminal, bool quiet,
                             OutputModes modes)
    : m_own(std::make_unique<Shared>(out, err, errIsTerminal, quiet, modes)),
      m_shared(m_own.get()) {}

ConsoleOutput::ConsoleOutput(ConsoleOutput& run, const std::string& label, int row)
    : m_shared(run.m_shared), m_prefix(label + ": "), m_row(row) {
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    if (m_row >= 0 && static_cast<std::size_t>(m_row) < m_shared->board.size()) {
        m_shared->board[static_cast<std::size_t>(m_row)] = m_prefix + "-";  // until it has progress
    }
}

ConsoleOutput::~ConsoleOutput() = default;

std::string ConsoleOutput::Prefixed(const std::string& text) const {
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

void ConsoleOutput::Line(const std::string& text) {
    Shared& s = *m_shared;
    if (s.modes.json) {
        return;  // the JSON document carries it
    }
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.LiftBoard();
    s.EndLine();
    s.out << Prefixed(text) << '\n' << std::flush;
    s.RestoreBoard();
}

void ConsoleOutput::Note(const std::string& text) {
    if (!m_shared->quiet) {
        Alert(text);
    }
}

void ConsoleOutput::Alert(const std::string& text) {
    Shared& s = *m_shared;
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.LiftBoard();
    s.EndLine();
    s.out << std::flush;  // what came before on standard output stays before it on a terminal
    s.err << Prefixed(text) << '\n' << std::flush;
    s.RestoreBoard();
}

void ConsoleOutput::Prompt(const std::string& text) {
    Shared& s = *m_shared;
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.EndLine();
    s.out << std::flush;
    s.err << text << std::flush;
}

void ConsoleOutput::Redraw(const std::string& text) {
    if (!RedrawsLines()) {
        return;  // redrawn lines are for terminals alone: no carriage returns anywhere else
    }
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

void ConsoleOutput::EndRedrawnLine() {
    if (m_row >= 0) {
        return;
    }
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->EndLine();
}

void ConsoleOutput::OpenBoard(int rows) {
    Shared& s = *m_shared;
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.EndLine();
    s.board.assign(static_cast<std::size_t>(std::max(rows, 0)), std::string());
    s.boardDrawn = false;
}

void ConsoleOutput::CloseBoard() {
    Shared& s = *m_shared;
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (s.boardDrawn) {
        s.err << '\n' << std::flush;
    }
    s.board.clear();
    s.boardDrawn = false;
}

bool ConsoleOutput::RedrawsLines() const {
    return m_shared->errIsTerminal && (m_row < 0 || m_shared->modes.cursorMoves);
}

bool ConsoleOutput::LinesReachTerminal() const {
    return m_shared->modes.outIsTerminal && !m_shared->modes.json;
}

bool ConsoleOutput::Quiet() const {
    return m_shared->quiet;
}
