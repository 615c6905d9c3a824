#include "console_output.h"

ConsoleOutput::ConsoleOutput(std::ostream& out, std::ostream& err, bool errIsTerminal, bool quiet)
    : m_out(out), m_err(err), m_errIsTerminal(errIsTerminal), m_quiet(quiet) {}

void ConsoleOutput::Line(const std::string& text) {
    EndRedrawnLine();
    m_out << text << '\n' << std::flush;
}

void ConsoleOutput::Note(const std::string& text) {
    if (!m_quiet) {
        Alert(text);
    }
}

void ConsoleOutput::Alert(const std::string& text) {
    EndRedrawnLine();
    m_out << std::flush;  // what came before on standard output stays before it on a terminal
    m_err << text << '\n' << std::flush;
}

void ConsoleOutput::Prompt(const std::string& text) {
    EndRedrawnLine();
    m_out << std::flush;
    m_err << text << std::flush;
}

void ConsoleOutput::Redraw(const std::string& text) {
    if (!m_errIsTerminal) {
        return;  // a redrawn line is for terminals alone: no carriage returns anywhere else
    }
    // Blanks over what is left of a longer line before it, rather than an escape sequence
    // that not every console understands.
    const std::size_t blanks = m_openLength > text.size() ? m_openLength - text.size() : 0;
    m_err << '\r' << text << std::string(blanks, ' ') << std::flush;
    m_lineOpen = true;
    m_openLength = text.size();
}

void ConsoleOutput::EndRedrawnLine() {
    if (m_lineOpen) {
        m_err << '\n' << std::flush;
        m_lineOpen = false;
        m_openLength = 0;
    }
}
