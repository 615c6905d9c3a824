// The console program's exit codes: what each outcome of TEST and UPDATE ends the program with,
// and which of several ports' codes a run over them ends with.
#pragma once

#include <exception>
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

// The exit codes as the lines of --help list them.
std::string ExitCodeHelp();

}  // namespace cli
