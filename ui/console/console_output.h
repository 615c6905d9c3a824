// Where the console program writes: the utility's messages and the commands' results on
// standard output, progress, prompts and notes on standard error. With several ports each port
// writes through an output of its own that prefixes its lines with the port and keeps its
// progress on a row of its own; all of them share the streams, whole lines at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

// How the program's output is shaped beyond the two streams.
struct OutputModes {
    bool outIsTerminal = true;  // standard output is a terminal, where a question can be read
    bool json = false;          // standard output carries one JSON document: Line writes nothing
    bool cursorMoves = false;   // standard error takes cursor movement: rows redrawn in place
};

// The two output streams, and the lines of standard error that progress redraws.
class ConsoleOutput {
public:
    // errIsTerminal: standard error is a terminal, where a line may be redrawn. quiet: no
    // progress and no notes.
    ConsoleOutput(std::ostream& out, std::ostream& err, bool errIsTerminal, bool quiet,
                  OutputModes modes = {});
    // One port's output in a run over several: every line prefixed "<label>: ", its progress
    // on row `row` of the run's board (OpenBoard).
    ConsoleOutput(ConsoleOutput& run, const std::string& label, int row);
    ~ConsoleOutput();
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    // One line of standard output; the text's own line breaks are kept. Nothing with JSON.
    void Line(const std::string& text);
    // One line of standard error, left out with --quiet.
    void Note(const std::string& text);
    // One line of standard error, also with --quiet (interruptions, refusals).
    void Alert(const std::string& text);
    // A prompt on standard error, with no line break, for an answer typed on the terminal.
    void Prompt(const std::string& text);
    // Replaces this output's redrawn line (terminals only): the one line of standard error,
    // or this port's row of the board.
    void Redraw(const std::string& text);
    // Ends a redrawn line, so that whatever follows starts on a line of its own. A port's row
    // stays on the board until the run closes it.
    void EndRedrawnLine();

    // The run's: from now on `rows` redrawn lines, one per port, stand below whatever else is
    // written, where standard error is a terminal that takes cursor movement.
    void OpenBoard(int rows);
    // The run's: leaves the board as it stands and goes on below it.
    void CloseBoard();

    // Whether Redraw draws anything here; otherwise progress goes in plain lines.
    bool RedrawsLines() const;
    // Whether this output redraws a row of a board rather than a line of its own.
    bool OnBoard() const { return m_row >= 0; }
    // Whether Line reaches a terminal, where a question's text is read.
    bool LinesReachTerminal() const;
    // Whether --quiet was given.
    bool Quiet() const;

private:
    struct Shared;

    std::string Prefixed(const std::string& text) const;

    std::unique_ptr<Shared> m_own;  // the run's streams; empty in a port's output
    Shared* m_shared;
    std::string m_prefix;  // "<label>: " in a port's output
    int m_row = -1;        // the board row of a port's output
};
