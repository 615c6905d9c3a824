// Where the console program writes: the utility's messages and the commands' results on
// standard output, progress, prompts and notes on standard error.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

// The two output streams, and the one line of standard error that a progress bar redraws.
class ConsoleOutput {
public:
    // errIsTerminal: standard error is a terminal, where a line may be redrawn. quiet: no
    // progress and no notes.
    ConsoleOutput(std::ostream& out, std::ostream& err, bool errIsTerminal, bool quiet);

    // One line of standard output; the text's own line breaks are kept.
    void Line(const std::string& text);
    // One line of standard error, left out with --quiet.
    void Note(const std::string& text);
    // One line of standard error, also with --quiet (interruptions, refusals).
    void Alert(const std::string& text);
    // A prompt on standard error, with no line break, for an answer typed on the terminal.
    void Prompt(const std::string& text);
    // Replaces the redrawn line of standard error with text (terminals only).
    void Redraw(const std::string& text);
    // Ends a redrawn line, so that whatever follows starts on a line of its own.
    void EndRedrawnLine();

    // Whether standard error is a terminal.
    bool ErrIsTerminal() const { return m_errIsTerminal; }
    // Whether --quiet was given.
    bool Quiet() const { return m_quiet; }

private:
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_errIsTerminal;
    bool m_quiet;
    bool m_lineOpen = false;
    std::size_t m_openLength = 0;
};
