// The main dialog as the console shows it: message boxes become lines of standard output,
// questions are asked on the terminal, the progress window goes to standard error.
#pragma once

#include <map>
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

// IUpdaterView for the console commands. It keeps the control states as the dialog would and
// records what the exchanges showed.
class ConsoleView final : public exchange::IUpdaterView {
public:
    // portIndex is the COM list selection TEST takes. scannerVersion, when given, is the
    // exchange's m_nScannerVersion, printed when TEST sets the status label. askQuestions:
    // false for `test`, which shows the version question's text and answers it No unasked.
    ConsoleView(ConsoleOutput& output, ConsoleQuestions& questions, exchange::IClock& clock,
                int portIndex, const int* scannerVersion, bool askQuestions);

    int GetPortSelection() override { return m_portIndex; }
    int ShowMessageBox(const std::string& text, unsigned style) override;
    void EnableControl(int id, bool enable) override { m_enabled[id] = enable; }
    void SetControlText(int id, const std::string& text) override;
    void ShowControl(int id) override;
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    std::unique_ptr<exchange::IProgressWindow> CreateProgressWindow() override;

    // Whether a control is enabled now, the dialog's initial states before any change.
    bool IsEnabled(int id) const;
    // What the exchanges showed since the start.
    const ShownOutcome& Outcome() const { return m_outcome; }

private:
    ConsoleOutput& m_output;
    ConsoleQuestions& m_questions;
    exchange::IClock& m_clock;
    int m_portIndex;
    const int* m_scannerVersion;
    bool m_askQuestions;
    std::map<int, bool> m_enabled;
    ShownOutcome m_outcome;
};

// The scanner's reported version as `test` prints it: "none" for 255 (no application code),
// else the version notation.
std::string ScannerVersionText(int scannerVersion);
