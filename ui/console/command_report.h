// What a console command did, for the final table of a run over several ports and for --json:
// per port the outcomes of its exchanges, its traffic, its times and the texts it showed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "com_port_devices.h"
#include "firmware_upload.h"
#include "version_check.h"

// What crossed an upload's port.
struct LinkCounts {
    long bytesSent = 0;      // as the writes accepted them
    long bytesReceived = 0;  // as the reads took them (not what a drain discards)
    int packetsSent = 0;     // data packets written, resends included
    int resends = 0;         // data packets written again after a NAK
};

// One port's TEST and UPDATE.
struct PortReport {
    std::string label;   // "COM41", or the device path as given
    std::string device;  // what the port stands for, empty when unknown
    std::optional<exchange::VersionCheckResult> test;
    bool questionShown = false;  // the version question was shown
    std::optional<exchange::UploadOutcome> update;
    bool interrupted = false;           // Ctrl+C or an end request ended it
    std::vector<std::string> messages;  // the utility's texts, in order
    int imageBytesAccepted = 0;
    LinkCounts updateLink;  // what the upload's port carried
    std::uint32_t testMs = 0;
    std::uint32_t updateMs = 0;
    int exitCode = 0;
};

// One command's record.
struct CommandReport {
    std::vector<std::string> messages;  // texts shown outside any port: the start-up warning
    std::vector<PortReport> ports;      // test and update: one per port, in --port order
    std::vector<comports::ComPortInfo> listed;  // ports: those listed; ports --find: those found
};

// The outcome's name as --json and the final table give it: "accepted", "no_reply", ...
const char* OutcomeName(exchange::VersionCheckOutcome outcome);
const char* OutcomeName(exchange::UploadOutcome outcome);
// The port's last word: "interrupted", else its upload's outcome, else its check's; "none"
// when neither ran.
std::string PortOutcomeName(const PortReport& port);
