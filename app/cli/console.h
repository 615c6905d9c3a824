// The console of tr520-cli: the utility's messages and the commands' results on standard
// output; progress, prompts and notes on standard error; the questions. With several ports each
// port writes through a console of its own that prefixes its lines and keeps its progress on a
// row of its own; all of them share the streams, whole lines at a time.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "exchange_io.h"
#include "interrupts.h"
#include "platform.h"

struct ConsoleModes {
    bool outIsTerminal = true;   // where a question is read
    bool errIsTerminal = false;  // where a line may be redrawn
    bool inIsTerminal = false;   // where an answer is typed
    bool quiet = false;          // --quiet: no progress and no notes
    bool json = false;           // standard output carries one JSON document: Line writes nothing
    bool cursorMoves = false;    // standard error takes cursor movement: rows redrawn in place
    bool assumeYes = false;      // --yes
};

class Console {
public:
    // The run's console; input is read only for a question that neither --yes nor the lack of
    // a terminal answers.
    Console(std::ostream& out, std::ostream& err, ConsoleModes modes, ConsoleInterrupts& interrupts,
            ITerminalInput& input);
    // One port's console in a run over several: every line prefixed "<label>: ", its progress
    // on row `row` of the run's board, its own view of Ctrl+C, no terminal input.
    Console(Console& run, const std::string& label, int row);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // One line of standard output, its own line breaks kept; nothing with --json.
    void Line(const std::string& text);
    // One line of standard error, left out with --quiet.
    void Note(const std::string& text);
    // One line of standard error, also with --quiet (interruptions, refusals).
    void Alert(const std::string& text);
    // Prints the question and gets its answer: y/N on the terminal when standard input is one,
    // Yes with --yes, otherwise No. Throws ConsoleInterrupted when Ctrl+C ends the wait.
    bool Ask(const std::string& text);
    // UPDATE's progress, timed by clock: a bar redrawn on one line or on the port's row where
    // standard error is a terminal, otherwise a plain line every 10 %; none with --quiet.
    std::unique_ptr<exchange::IProgressWindow> CreateProgress(exchange::IClock& clock);

    // The run's: from now on `rows` rows, one per port, stand below whatever else is written,
    // where standard error takes cursor movement; CloseBoard leaves them and goes on below.
    void OpenBoard(int rows);
    void CloseBoard();

    ConsoleInterrupts& Interrupts() { return *m_interrupts; }
    bool AssumesYes() const;

private:
    struct Shared;
    class Progress;

    std::string Prefixed(const std::string& text) const;
    // One whole line on stream (standard output or error), below what came before on either.
    void Print(std::ostream& stream, const std::string& text);
    // Replaces this console's redrawn line: the one line of standard error, or this port's row.
    void Redraw(const std::string& text);
    // Ends a redrawn line, so that whatever follows starts on a line of its own.
    void EndRedrawnLine();
    bool RedrawsLines() const;

    std::unique_ptr<Shared> m_own;  // the run's streams; empty in a port's console
    Shared* m_shared;
    std::unique_ptr<ConsoleInterrupts> m_portInterrupts;
    ConsoleInterrupts* m_interrupts;
    ITerminalInput* m_input;  // null in a port's console
    std::string m_prefix;     // "<label>: " in a port's console
    int m_row = -1;           // the board row of a port's console
};

// "y" or "yes" in any letter case, blanks around it ignored.
bool IsYesAnswer(const std::string& answer);
// Milliseconds as "m:ss".
std::string FormatDuration(std::uint32_t ms);
