#include "exit_codes.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "printable_text.h"

namespace cli {

namespace {

using exchange::UploadOutcome;
using exchange::VersionCheckOutcome;

// From the most severe down: the user's stop, a fault of ours, the scanner left half-written,
// refused, silent, never reached, a question answered No, a wrong command line.
constexpr std::array<int, 8> kSeverity{kExitInterrupted, kExitInternal, kExitWriteFailed,
                                       kExitRefused,     kExitNoAnswer, kExitPortNotOpened,
                                       kExitAnsweredNo,  kExitUsage};

std::size_t Rank(int code) {
    const auto found = std::find(kSeverity.begin(), kSeverity.end(), code);
    return found == kSeverity.end() ? kSeverity.size()
                                    : static_cast<std::size_t>(found - kSeverity.begin());
}

}  // namespace

// No default: a new outcome without a code here fails the build (-Wswitch, -Werror).
int ExitCodeAfterTest(VersionCheckOutcome outcome, bool questionAsked) {
    switch (outcome) {
        case VersionCheckOutcome::kBusy:
            return kExitInternal;  // never in the console program: one exchange per thread
        case VersionCheckOutcome::kPortNotOpened:
            return kExitPortNotOpened;
        case VersionCheckOutcome::kNoReadyByte:
        case VersionCheckOutcome::kNoReply:
            return kExitNoAnswer;
        case VersionCheckOutcome::kUploadOffered:
            return kExitDone;
        case VersionCheckOutcome::kUploadNotOffered:
            return questionAsked ? kExitAnsweredNo : kExitDone;
    }
    return kExitInternal;  // a value outside the enumeration
}

int ExitCodeAfterUpdate(UploadOutcome outcome) {
    switch (outcome) {
        case UploadOutcome::kBusy:
        case UploadOutcome::kAbandoned:
            return kExitInternal;
        case UploadOutcome::kPortNotOpened:
            return kExitPortNotOpened;
        case UploadOutcome::kNoReadyByte:
        case UploadOutcome::kNoGoAhead:
        case UploadOutcome::kNoAnswer:
        case UploadOutcome::kVerdictTimeout:
            return kExitNoAnswer;
        case UploadOutcome::kNotApproved:
        case UploadOutcome::kRejected:
        case UploadOutcome::kUnknownVerdict:
            return kExitRefused;
        case UploadOutcome::kWriteFailed:
            return kExitWriteFailed;
        case UploadOutcome::kAccepted:
            return kExitDone;
    }
    return kExitInternal;  // a value outside the enumeration
}

int MostSevereExitCode(int a, int b) {
    if (a == kExitDone || b == kExitDone) {
        return a == kExitDone ? b : a;
    }
    return Rank(a) <= Rank(b) ? a : b;
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
    return "Exit codes:\n"
           "  0    done (test: the scanner answered; update: it accepted the firmware)\n"
           "  1    usage: a wrong command line\n"
           "  2    the port cannot be opened (--port auto or found: no scanner found; auto:\n"
           "       or several; ports --find: none found, a present port not opened)\n"
           "  3    no answer from the scanner (no ready byte, go-ahead, answer or verdict)\n"
           "  4    the scanner refused (NAK three times, CAN, an unknown verdict byte)\n"
           "  5    a write failed (the cable went away)\n"
           "  6    the question was answered No\n"
           "  70   the exchange ended without any outcome (an internal failure)\n"
           "  130  interrupted (Ctrl+C)\n"
           "With several ports: 0 when every port's is 0, otherwise the most severe port's code,\n"
           "in the order 130, 70, 5, 4, 3, 2, 6.\n";
}

}  // namespace cli
