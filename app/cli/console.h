// The console of tr520-cli, one object as in fwupd's: the utility's messages and the commands'
// results on standard output; progress, prompts and notes on standard error; the questions.
// With several ports each port writes through a console of its own that prefixes its lines and
// keeps its progress on a row of its own; all of them share the streams, whole lines at a time.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "exchange_io.h"
#include "interrupts.h"
#include "platform.h"

// How the program's output and questions are shaped.
struct ConsoleModes {
    bool outIsTerminal = true;   // standard output is a terminal, where a question is read
    bool errIsTerminal = false;  // standard error is a terminal, where a line may be redrawn
    bool inIsTerminal = false;   // standard input is a terminal, where an answer is typed
    bool quiet = false;          // --quiet: no progress and no notes
    bool json = false;           // standard output carries one JSON document: Line writes nothing
    bool cursorMoves = false;    // standard error takes cursor movement: rows redrawn in place
    bool assumeYes = false;      // --yes answers every question
};

class Console {
public:
    // The run's console; input is read only for a question that neither --yes nor the lack of
    // a terminal answers.
    Console(std::ostream& out, std::ostream& err, ConsoleModes modes, ConsoleInterrupts& interrupts,
            ITerminalInput& input);
    // One port's console in a run over several: every line prefixed "<label>: ", its progress
    // on row `row` of the run's board (OpenBoard), its own view of Ctrl+C, no terminal input.
    Console(Console& run, const std::string& label, int row);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // One line of standard output; the text's own line breaks are kept. Nothing with JSON.
    void Line(const std::string& text);
    // One line of standard error, left out with --quiet.
    void Note(const std::string& text);
    // One line of standard error, also with --quiet (interruptions, refusals).
    void Alert(const std::string& text);
    // Prints the question and gets its answer: asked on the terminal (y/N, No by default) when
    // standard input is one, Yes with --yes, otherwise No. Throws ConsoleInterrupted when
    // Ctrl+C ends the wait.
    bool Ask(const std::string& text);
    // UPDATE's progress on standard error, timed by clock: a bar redrawn on one line or on the
    // port's row where standard error is a terminal, otherwise a plain line every 10 %; nothing
    // with --quiet. Its caption goes on a line of its own.
    std::unique_ptr<exchange::IProgressWindow> CreateProgress(exchange::IClock& clock);

    // The run's: from now on `rows` redrawn rows, one per port, stand below whatever else is
    // written, where standard error is a terminal that takes cursor movement.
    void OpenBoard(int rows);
    // The run's: leaves the board as it stands and goes on below it.
    void CloseBoard();

    ConsoleInterrupts& Interrupts() { return *m_interrupts; }
    // Whether --yes answers every question.
    bool AssumesYes() const;

private:
    struct Shared;
    class Progress;

    std::string Prefixed(const std::string& text) const;
    void Prompt(const std::string& text);
    // Replaces this console's redrawn line: the one line of standard error, or this port's row.
    void Redraw(const std::string& text);
    // Ends a redrawn line, so that whatever follows starts on a line of its own.
    void EndRedrawnLine();
    // Whether Redraw draws anything here; otherwise progress goes in plain lines.
    bool RedrawsLines() const;

    std::unique_ptr<Shared> m_own;  // the run's streams; empty in a port's console
    Shared* m_shared;
    std::unique_ptr<ConsoleInterrupts> m_portInterrupts;  // a port's view of the run's presses
    ConsoleInterrupts* m_interrupts;
    ITerminalInput* m_input;  // null in a port's console
    std::string m_prefix;     // "<label>: " in a port's console
    int m_row = -1;           // the board row of a port's console
};

// Whether a typed answer means Yes: "y" or "yes" in any letter case, blanks around it ignored.
bool IsYesAnswer(const std::string& answer);
// Milliseconds as minutes and seconds, "m:ss".
std::string FormatDuration(std::uint32_t ms);
