// How tr520-cli ends: its exit codes, and the one table of outcomes from which --help, --json
// and the final table take their names and codes.
#pragma once

#include <exception>
#include <span>
#include <string>

#include "firmware_upload.h"
#include "version_check.h"

namespace cli {

inline constexpr int kExitDone = 0;           // test: the scanner answered; update: it accepted
inline constexpr int kExitUsage = 1;          // a wrong command line
inline constexpr int kExitPortNotOpened = 2;  // also: --port auto or found found no scanner
inline constexpr int kExitNoAnswer = 3;       // no ready byte, go-ahead, answer, verdict or reply
inline constexpr int kExitRefused = 4;        // NAK three times, CAN, an unknown verdict byte
inline constexpr int kExitWriteFailed = 5;    // a write failed: the cable went away
inline constexpr int kExitAnsweredNo = 6;     // a question was answered No
inline constexpr int kExitInternal = 70;      // the exchange ended without any outcome it knows
inline constexpr int kExitInterrupted = 130;  // Ctrl+C

// One way a port's TEST, UPDATE or whole run can end, and the exit code it gives the port.
struct OutcomeRow {
    enum class Step { kTest, kUpdate, kPort };
    Step step;
    int value;  // the step's VersionCheckOutcome or UploadOutcome
    const char* name;
    int exitCode;
};
std::span<const OutcomeRow> OutcomeTable();

// One exit code and what --help says of it.
struct ExitCodeRow {
    int code;
    const char* help;
};
std::span<const ExitCodeRow> ExitCodeTable();

const char* OutcomeName(exchange::VersionCheckOutcome outcome);
const char* OutcomeName(exchange::UploadOutcome outcome);
inline constexpr const char* kInterruptedName = "interrupted";  // a port Ctrl+C ended
inline constexpr const char* kNeitherRanName = "none";          // neither step ran

// questionAsked: the version question was put to the user (update), not only shown (test).
int ExitCodeAfterTest(exchange::VersionCheckOutcome outcome, bool questionAsked);
int ExitCodeAfterUpdate(exchange::UploadOutcome outcome);

// A run over several ports ends with the most severe code: 130, 70, 5, 4, 3, 2, 6, 1.
int MostSevereExitCode(int a, int b);

// "internal error: " and the exception's text, escaped; "internal error" without one.
std::string InternalErrorText(const std::exception_ptr& failure);

std::string ExitCodeHelp();
std::string OutcomeHelp();

}  // namespace cli
