// The main dialog as the console shows it: message boxes become lines of standard output,
// questions are asked on the terminal, the progress window goes to standard error.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "console_interrupts.h"
#include "console_output.h"
#include "console_platform.h"
#include "exchange_io.h"

// How the dialog's Yes/No questions are answered: asked on the terminal (y/N, No by default)
// when standard input is one; --yes answers Yes; otherwise they count as No.
class ConsoleQuestions {
public:
    // input is read only when inputIsTerminal and not assumeYes.
    ConsoleQuestions(ConsoleOutput& output, ConsoleInterrupts& interrupts, ITerminalInput& input,
                     bool inputIsTerminal, bool assumeYes);
    // Prints the question's text, gets the answer and returns IDYES or IDNO; throws
    // ConsoleInterrupted when Ctrl+C ends the wait.
    int Ask(const std::string& text);
    // Whether --yes answers every question.
    bool AssumesYes() const { return m_assumeYes; }

private:
    ConsoleOutput& m_output;
    ConsoleInterrupts& m_interrupts;
    ITerminalInput& m_input;
    bool m_inputIsTerminal;
    bool m_assumeYes;
};

// Whether a typed answer means Yes: "y" or "yes" in any letter case, blanks around it ignored.
bool IsYesAnswer(const std::string& answer);

// What one port's exchanges showed on the console.
struct ShownOutcome {
    std::vector<std::string> messages;  // message boxes and the completion text, in order
    bool questionShown = false;         // the version question (style 36)
    int acceptedBytes = 0;         // image bytes the scanner accepted, as the bar followed them
};

// The exchanges' front end for the console commands: it records what the exchanges showed.
class ConsoleView final : public exchange::IFrontEnd {
public:
    // port: where the exchanges go. askQuestions: false for `test`, which shows the version
    // question's text and answers it No unasked.
    ConsoleView(ConsoleOutput& output, ConsoleQuestions& questions, exchange::IClock& clock,
                exchange::PortToOpen port, bool askQuestions);

    exchange::PortToOpen Port() override { return m_port; }
    void ShowMessage(const std::string& text, exchange::MessageKind kind) override;
    bool AskYesNo(const std::string& text) override;
    void ScannerReplied(int scannerVersion) override;
    std::unique_ptr<exchange::IProgressWindow> CreateProgressWindow() override;
    void UploadAccepted() override;

    // What the exchanges showed since the start.
    const ShownOutcome& Outcome() const { return m_outcome; }

private:
    ConsoleOutput& m_output;
    ConsoleQuestions& m_questions;
    exchange::IClock& m_clock;
    exchange::PortToOpen m_port;
    bool m_askQuestions;
    ShownOutcome m_outcome;
};

// The scanner's reported version as `test` prints it: "none" for 255 (no application code),
// else the version notation.
std::string ScannerVersionText(int scannerVersion);
