#include "console_view.h"

#include <algorithm>
#include <cctype>

#include "console_progress.h"
#include "dialog_texts.h"
#include "firmware_payload.h"
#include "resource.h"

namespace {

constexpr int kNoApplicationCode = 255;

std::string Trimmed(const std::string& text) {
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

}  // namespace

ConsoleQuestions::ConsoleQuestions(ConsoleOutput& output, ConsoleInterrupts& interrupts,
                                   ITerminalInput& input, bool inputIsTerminal, bool assumeYes)
    : m_output(output),
      m_interrupts(interrupts),
      m_input(input),
      m_inputIsTerminal(inputIsTerminal),
      m_assumeYes(assumeYes) {}

int ConsoleQuestions::Ask(const std::string& text) {
    m_output.Line(text);
    if (m_assumeYes) {
        m_output.Note("(answered Yes: --yes)");
        return IDYES;
    }
    if (!m_inputIsTerminal) {
        m_output.Alert("(answered No: standard input is no terminal and --yes was not given)");
        return IDNO;
    }
    if (!m_output.LinesReachTerminal()) {
        m_output.Alert(text);  // read where it is answered, not only in a file or a pipe
    }
    for (;;) {
        m_output.Prompt("[y/N] ");
        std::string answer;
        switch (m_input.ReadLine(answer)) {
            case LineRead::kLine:
                return IsYesAnswer(answer) ? IDYES : IDNO;
            case LineRead::kEnd:
                m_output.Alert("");
                return IDNO;
            case LineRead::kInterrupted:
                m_output.Alert("");
                m_interrupts.Check();  // ends here; anything else asks again
                break;
        }
    }
}

bool IsYesAnswer(const std::string& answer) {
    std::string word = Trimmed(answer);
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return word == "y" || word == "yes";
}

ConsoleView::ConsoleView(ConsoleOutput& output, ConsoleQuestions& questions,
                         exchange::IClock& clock, exchange::PortToOpen port, bool askQuestions)
    : m_output(output),
      m_questions(questions),
      m_clock(clock),
      m_port(std::move(port)),
      m_askQuestions(askQuestions) {}

void ConsoleView::ShowMessage(const std::string& text, exchange::MessageKind) {
    m_outcome.messages.push_back(text);
    m_output.Line(text);
}

bool ConsoleView::AskYesNo(const std::string& text) {
    m_outcome.messages.push_back(text);
    m_outcome.questionShown = true;
    if (!m_askQuestions) {
        m_output.Line(text);  // `test` starts nothing: the text, and no upload is offered
        return false;
    }
    return m_questions.Ask(text) == IDYES;
}

// The console names the version that the dialog keeps to itself.
void ConsoleView::ScannerReplied(int scannerVersion) {
    m_output.Line("Scanner version: " + ScannerVersionText(scannerVersion));
}

void ConsoleView::UploadAccepted() {
    m_outcome.messages.push_back(TR_TEXT_COMPLETION);
    m_output.Line(TR_TEXT_COMPLETION);
}

std::unique_ptr<exchange::IProgressWindow> ConsoleView::CreateProgressWindow() {
    // With --quiet it draws nothing, but still counts the accepted bytes.
    return std::make_unique<ConsoleProgress>(m_output, m_clock, &m_outcome.acceptedBytes);
}

std::string ScannerVersionText(int scannerVersion) {
    if (scannerVersion == kNoApplicationCode) {
        return "none";
    }
    return VersionText(static_cast<std::uint8_t>(scannerVersion));
}
