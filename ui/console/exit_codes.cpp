#include "exit_codes.h"

#include <array>

#include "resource.h"

namespace cli {

namespace {

// The texts of protocol/version_check.cpp and protocol/firmware_upload.cpp. A data packet that
// gets no answer (silence, or a byte that is neither ACK nor NAK) is "no answer"; a pulled
// cable shows as the failed write of the next packet.
constexpr std::array<MessageExit, 10> kTable{{
    {"Unable to open the port COM", true, kExitPortNotOpened},  // TEST's and UPDATE's
    {"No data from the scanner. Please retry from step 1", false, kExitNoAnswer},
    {"Unable to communicate with the scanner.\n\nPlease retry from Step 1.", false, kExitNoAnswer},
    {"No data from the scanner. Please retry from step 4", false, kExitNoAnswer},
    {"Timed out waiting for response from scanner", false, kExitNoAnswer},
    {"Scanner response timeout!", false, kExitNoAnswer},
    {"Scanner not approving the upgrade packets", false, kExitRefused},
    {"Scanner rejected the upgrade!", false, kExitRefused},
    {"Scanner unknown response!", false, kExitRefused},
    {"Unable to send data to the scanner. Please retry from step 4", false, kExitWriteFailed},
}};

// The first failure (style 48) shown, mapped; kExitInternal for a failure the table lacks.
std::optional<int> FailureCode(const ShownOutcome& outcome) {
    for (const ShownMessage& message : outcome.messages) {
        if ((message.style & MB_ICONEXCLAMATION) == MB_ICONEXCLAMATION &&
            (message.style & MB_YESNO) == 0) {
            return ExitCodeForMessage(message.text).value_or(kExitInternal);
        }
    }
    return std::nullopt;
}

}  // namespace

std::span<const MessageExit> MessageExitTable() {
    return kTable;
}

std::optional<int> ExitCodeForMessage(const std::string& text) {
    for (const MessageExit& row : kTable) {
        if (row.isPrefix ? text.starts_with(row.text) : text == row.text) {
            return row.code;
        }
    }
    return std::nullopt;
}

int ExitCodeAfterTest(const ShownOutcome& outcome, bool uploadOffered) {
    if (const auto failure = FailureCode(outcome)) {
        return *failure;
    }
    if (uploadOffered) {
        return kExitDone;
    }
    if (outcome.questionShown) {
        return outcome.questionYes.has_value() ? kExitAnsweredNo : kExitDone;
    }
    return kExitInternal;
}

int ExitCodeAfterUpdate(const ShownOutcome& outcome) {
    if (const auto failure = FailureCode(outcome)) {
        return *failure;
    }
    return outcome.completionShown ? kExitDone : kExitInternal;
}

std::string ExitCodeHelp() {
    return "Exit codes:\n"
           "  0    done (test: the scanner answered; update: it accepted the firmware)\n"
           "  1    usage: a wrong command line\n"
           "  2    the port cannot be opened (--port auto: no scanner found, or several)\n"
           "  3    no answer from the scanner (no ready byte, go-ahead, answer or verdict)\n"
           "  4    the scanner refused (NAK three times, CAN, an unknown verdict byte)\n"
           "  5    a write failed (the cable went away)\n"
           "  6    the question was answered No\n"
           "  70   the exchange ended without any outcome (an internal failure)\n"
           "  130  interrupted (Ctrl+C)\n";
}

}  // namespace cli
