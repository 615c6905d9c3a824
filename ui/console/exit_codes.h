// The console program's exit codes, derived from what an exchange showed: its message texts,
// the completion text, the control states and the answer to its question.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

inline constexpr int kExitDone = 0;   // test: the scanner answered; update: it accepted
inline constexpr int kExitUsage = 1;  // a wrong command line
// The port cannot be opened, or --port auto found no scanner or several.
inline constexpr int kExitPortNotOpened = 2;
inline constexpr int kExitNoAnswer = 3;       // no ready byte, go-ahead, answer, verdict or reply
inline constexpr int kExitRefused = 4;        // NAK three times, CAN, an unknown verdict byte
inline constexpr int kExitWriteFailed = 5;    // a write failed: the cable went away
inline constexpr int kExitAnsweredNo = 6;     // a question was answered No
inline constexpr int kExitInternal = 70;      // the exchange ended without any outcome it knows
inline constexpr int kExitInterrupted = 130;  // Ctrl+C

// One message of the exchanges and the exit code it leads to.
struct MessageExit {
    std::string_view text;  // the whole text, or its start when isPrefix
    bool isPrefix;
    int code;
};

// Every failure message of TEST and UPDATE, with its exit code.
std::span<const MessageExit> MessageExitTable();

// The exit code of a failure message; none for a text the table does not know.
std::optional<int> ExitCodeForMessage(const std::string& text);

// One message box as the console showed it.
struct ShownMessage {
    std::string text;
    unsigned style;
};

// What one exchange showed on the console.
struct ShownOutcome {
    std::vector<ShownMessage> messages;
    bool completionShown = false;  // ShowControl of the completion text (1004)
    bool questionShown = false;    // the version question (style 36)
    std::optional<bool>
        questionYes;  // its answer, when it was asked (update), not only shown (test)
};

// After TEST: a failure's code; 0 when the upload is offered, or when the question was only
// shown; 6 when it was answered No.
int ExitCodeAfterTest(const ShownOutcome& outcome, bool uploadOffered);
// After UPDATE: 0 for the completion text; a failure's code otherwise.
int ExitCodeAfterUpdate(const ShownOutcome& outcome);

// The exit codes as the lines of --help list them.
std::string ExitCodeHelp();

}  // namespace cli
