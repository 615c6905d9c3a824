#include "outcomes.h"

#include <algorithm>
#include <sstream>

#include "printable_text.h"

namespace cli {

namespace {

using Step = OutcomeRow::Step;
using exchange::UploadOutcome;
using exchange::VersionCheckOutcome;

constexpr OutcomeRow Test(VersionCheckOutcome outcome, const char* name, int exitCode) {
    return {Step::kTest, static_cast<int>(outcome), name, exitCode};
}

constexpr OutcomeRow Update(UploadOutcome outcome, const char* name, int exitCode) {
    return {Step::kUpdate, static_cast<int>(outcome), name, exitCode};
}

// In the order --help names them. The version question answered No in `update` gives
// kExitAnsweredNo instead (ExitCodeAfterTest).
constexpr OutcomeRow kOutcomes[] = {
    Test(VersionCheckOutcome::kUploadOffered, "upload_offered", kExitDone),
    Test(VersionCheckOutcome::kUploadNotOffered, "upload_not_offered", kExitDone),
    Test(VersionCheckOutcome::kNoReadyByte, "no_ready_byte", kExitNoAnswer),
    Test(VersionCheckOutcome::kNoReply, "no_reply", kExitNoAnswer),
    Test(VersionCheckOutcome::kPortNotOpened, "port_not_opened", kExitPortNotOpened),
    Test(VersionCheckOutcome::kBusy, "busy", kExitInternal),  // never here
    Update(UploadOutcome::kAccepted, "accepted", kExitDone),
    Update(UploadOutcome::kRejected, "rejected", kExitRefused),
    Update(UploadOutcome::kNotApproved, "not_approved", kExitRefused),
    Update(UploadOutcome::kUnknownVerdict, "unknown_verdict", kExitRefused),
    Update(UploadOutcome::kNoAnswer, "no_answer", kExitNoAnswer),
    Update(UploadOutcome::kNoGoAhead, "no_go_ahead", kExitNoAnswer),
    Update(UploadOutcome::kNoReadyByte, "no_ready_byte", kExitNoAnswer),
    Update(UploadOutcome::kVerdictTimeout, "verdict_timeout", kExitNoAnswer),
    Update(UploadOutcome::kWriteFailed, "write_failed", kExitWriteFailed),
    Update(UploadOutcome::kPortNotOpened, "port_not_opened", kExitPortNotOpened),
    Update(UploadOutcome::kAbandoned, "abandoned", kExitInternal),
    Update(UploadOutcome::kBusy, "busy", kExitInternal),  // never here
    {Step::kPort, 0, kInterruptedName, kExitInterrupted},
    {Step::kPort, 1, kNeitherRanName, kExitInternal},
};

constexpr ExitCodeRow kExitCodes[] = {
    {kExitDone, "done (test: the scanner answered; update: it accepted the firmware)"},
    {kExitUsage, "usage: a wrong command line"},
    {kExitPortNotOpened,
     "the port cannot be opened (--port auto or found: no scanner found; auto:\n"
     "       or several; ports --find: none found, a present port not opened)"},
    {kExitNoAnswer, "no answer from the scanner (no ready byte, go-ahead, answer or verdict)"},
    {kExitRefused, "the scanner refused (NAK three times, CAN, an unknown verdict byte)"},
    {kExitWriteFailed, "a write failed (the cable went away)"},
    {kExitAnsweredNo, "the question was answered No"},
    {kExitInternal, "the exchange ended without any outcome (an internal failure)"},
    {kExitInterrupted, "interrupted (Ctrl+C)"},
};

// From the most severe down: the user's stop, a fault of ours, the scanner left half-written,
// refused, silent, never reached, a question answered No, a wrong command line.
constexpr int kSeverity[] = {kExitInterrupted, kExitInternal,      kExitWriteFailed, kExitRefused,
                             kExitNoAnswer,    kExitPortNotOpened, kExitAnsweredNo,  kExitUsage};

constexpr std::size_t kHelpWidth = 79;  // columns of an 80-column terminal that --help fills

// The step's row of the outcome; null for a value outside the enumeration.
template <typename Outcome>
const OutcomeRow* Find(Step step, Outcome outcome) {
    const auto row = std::find_if(std::begin(kOutcomes), std::end(kOutcomes), [&](const auto& r) {
        return r.step == step && r.value == static_cast<int>(outcome);
    });
    return row != std::end(kOutcomes) ? row : nullptr;
}

// "of test a, b, c"
std::string NamesOf(Step step, const char* stepName) {
    std::string names = std::string("of ") + stepName;
    const char* separator = " ";
    for (const OutcomeRow& row : kOutcomes) {
        if (row.step == step) {
            names += separator + std::string(row.name);
            separator = ", ";
        }
    }
    return names;
}

}  // namespace

std::span<const OutcomeRow> OutcomeTable() {
    return kOutcomes;
}

std::span<const ExitCodeRow> ExitCodeTable() {
    return kExitCodes;
}

const char* OutcomeName(VersionCheckOutcome outcome) {
    const OutcomeRow* row = Find(Step::kTest, outcome);
    return row ? row->name : "unknown";
}

const char* OutcomeName(UploadOutcome outcome) {
    const OutcomeRow* row = Find(Step::kUpdate, outcome);
    return row ? row->name : "unknown";
}

int ExitCodeAfterTest(VersionCheckOutcome outcome, bool questionAsked) {
    if (outcome == VersionCheckOutcome::kUploadNotOffered && questionAsked) {
        return kExitAnsweredNo;
    }
    const OutcomeRow* row = Find(Step::kTest, outcome);
    return row ? row->exitCode : kExitInternal;
}

int ExitCodeAfterUpdate(UploadOutcome outcome) {
    const OutcomeRow* row = Find(Step::kUpdate, outcome);
    return row ? row->exitCode : kExitInternal;
}

int MostSevereExitCode(int a, int b) {
    if (a == kExitDone || b == kExitDone) {
        return a == kExitDone ? b : a;
    }
    const auto rank = [](int code) { return std::ranges::find(kSeverity, code) - kSeverity; };
    return rank(a) <= rank(b) ? a : b;
}

std::string InternalErrorText(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& exception) {
        return "internal error: " + PrintableText(exception.what());
    } catch (...) {
        return "internal error";
    }
}

std::string ExitCodeHelp() {
    std::string help = "Exit codes:\n";
    for (const ExitCodeRow& row : kExitCodes) {
        std::string code = std::to_string(row.code);
        code.resize(5, ' ');  // the texts start in one column
        help += "  " + code + row.help + "\n";
    }
    return help +
           "With several ports: 0 when every port's is 0, otherwise the most severe port's code,\n"
           "in the order 130, 70, 5, 4, 3, 2, 6.\n";
}

std::string OutcomeHelp() {
    std::istringstream words("outcome: " + NamesOf(Step::kTest, "test") + "; " +
                             NamesOf(Step::kUpdate, "update") +
                             "; a port's is interrupted when Ctrl+C ended it, else its update's, "
                             "else its test's.");
    // In lines of at most kHelpWidth columns, each indented by two blanks.
    std::string lines;
    std::string line;
    for (std::string word; words >> word;) {
        if (!line.empty() && line.size() + 1 + word.size() > kHelpWidth) {
            lines += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "  " : " ") + word;
    }
    return lines + line + "\n";
}

}  // namespace cli
