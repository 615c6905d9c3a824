// How tr520-cli ends: its exit codes, one table of the outcomes from which --help and --json
// take their names and codes, and which of several ports' codes a run ends with.
#pragma once

#include <exception>
#include <span>
#include <string>

#include "firmware_upload.h"
#include "version_check.h"

namespace cli {

inline constexpr int kExitDone = 0;   // test: the scanner answered; update: it accepted
inline constexpr int kExitUsage = 1;  // a wrong command line
// The port cannot be opened, or --port auto or found found no scanner (auto: or several).
inline constexpr int kExitPortNotOpened = 2;
inline constexpr int kExitNoAnswer = 3;       // no ready byte, go-ahead, answer, verdict or reply
inline constexpr int kExitRefused = 4;        // NAK three times, CAN, an unknown verdict byte
inline constexpr int kExitWriteFailed = 5;    // a write failed: the cable went away
inline constexpr int kExitAnsweredNo = 6;     // a question was answered No
inline constexpr int kExitInternal = 70;      // the exchange ended without any outcome it knows
inline constexpr int kExitInterrupted = 130;  // Ctrl+C

// One way a port's TEST, UPDATE or whole run can end: its name in --json and the final table,
// and the exit code it ends the port with.
struct OutcomeRow {
    enum class Step { kTest, kUpdate, kPort };
    Step step;
    int value;  // the step's outcome (VersionCheckOutcome, UploadOutcome) as a number
    const char* name;
    int exitCode;
};

// Every outcome, TEST's, then UPDATE's, then the port's own ("interrupted", "none").
std::span<const OutcomeRow> OutcomeTable();

// One exit code and what --help says of it (a further line indented to its text).
struct ExitCodeRow {
    int code;
    const char* help;
};

// Every exit code, in numeric order.
std::span<const ExitCodeRow> ExitCodeTable();

const char* OutcomeName(exchange::VersionCheckOutcome outcome);
const char* OutcomeName(exchange::UploadOutcome outcome);
// A port's last word when Ctrl+C ended it, and when neither step ran (an internal failure).
inline constexpr const char* kInterruptedName = "interrupted";
inline constexpr const char* kNeitherRanName = "none";

// After TEST. questionAsked: the version question, when shown, was put to the user (update);
// `test` only shows it, so an upload not offered then still means the scanner answered.
int ExitCodeAfterTest(exchange::VersionCheckOutcome outcome, bool questionAsked);
// After UPDATE. An upload abandoned by Ctrl+C is the caller's to tell (kExitInterrupted).
int ExitCodeAfterUpdate(exchange::UploadOutcome outcome);

// The code a run over several ports ends with: 0 when every port's is, otherwise the most
// severe of them in the order 130, 70, 5, 4, 3, 2, 6, 1.
int MostSevereExitCode(int a, int b);

// What ended a run or a port with kExitInternal, in words: "internal error: " and the
// exception's text (escaped: it may quote a path), or "internal error" for an exception
// without one.
std::string InternalErrorText(const std::exception_ptr& failure);

// The exit codes as --help lists them.
std::string ExitCodeHelp();
// The outcomes of TEST and UPDATE as --help names them, in lines indented by two blanks.
std::string OutcomeHelp();

}  // namespace cli
