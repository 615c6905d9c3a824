#include "command_report.h"

using exchange::UploadOutcome;
using exchange::VersionCheckOutcome;

// No default: a new outcome without a name here fails the build (-Wswitch, -Werror).
const char* OutcomeName(VersionCheckOutcome outcome) {
    switch (outcome) {
        case VersionCheckOutcome::kBusy:
            return "busy";
        case VersionCheckOutcome::kPortNotOpened:
            return "port_not_opened";
        case VersionCheckOutcome::kNoReadyByte:
            return "no_ready_byte";
        case VersionCheckOutcome::kNoReply:
            return "no_reply";
        case VersionCheckOutcome::kUploadOffered:
            return "upload_offered";
        case VersionCheckOutcome::kUploadNotOffered:
            return "upload_not_offered";
    }
    return "unknown";
}

const char* OutcomeName(UploadOutcome outcome) {
    switch (outcome) {
        case UploadOutcome::kBusy:
            return "busy";
        case UploadOutcome::kPortNotOpened:
            return "port_not_opened";
        case UploadOutcome::kNoReadyByte:
            return "no_ready_byte";
        case UploadOutcome::kNoGoAhead:
            return "no_go_ahead";
        case UploadOutcome::kWriteFailed:
            return "write_failed";
        case UploadOutcome::kNotApproved:
            return "not_approved";
        case UploadOutcome::kNoAnswer:
            return "no_answer";
        case UploadOutcome::kRejected:
            return "rejected";
        case UploadOutcome::kVerdictTimeout:
            return "verdict_timeout";
        case UploadOutcome::kUnknownVerdict:
            return "unknown_verdict";
        case UploadOutcome::kAccepted:
            return "accepted";
        case UploadOutcome::kAbandoned:
            return "abandoned";
    }
    return "unknown";
}

std::string PortOutcomeName(const PortReport& port) {
    if (port.interrupted) {
        return "interrupted";
    }
    if (port.update) {
        return OutcomeName(*port.update);
    }
    if (port.test) {
        return OutcomeName(port.test->outcome);
    }
    return "none";
}
