// One port's session in a console command: TEST, and for update the UPDATE after a TEST that
// offered it, on the console, every port and clock call looking for Ctrl+C first, the upload
// inside the hold on sleep and shutdown.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "com_port_devices.h"
#include "console.h"
#include "firmware_upload.h"
#include "keep_awake.h"
#include "options.h"
#include "version_check.h"

// Everything the commands talk to; the program gives the real ones, tests stand-ins.
struct ConsoleSurroundings {
    Console& console;
    exchange::IPortOpener& opener;  // the ports as they are; the session adds the Ctrl+C checks
    exchange::IClock& clock;
    IKeepAwake& keepAwake;  // held while UPDATE runs
    const FirmwarePayload& firmware;
    std::string firmwareSha256;  // the carried image's digest, as the build computed it
    std::function<std::vector<comports::ComPortInfo>()> describePorts;
    // Why a port (a COM name or device path) could not be opened, in one line; none when empty.
    std::function<std::string(const std::string&)> whyNotOpened;
};

// A port a command runs on, with what the console shows for it.
struct ResolvedPort {
    PortArgument argument;  // a COM number or a device path
    std::string label;      // "COM41", or the device path
    std::string device;     // what the port stands for, empty when unknown
};

// What one port's session did.
struct PortReport {
    std::string label;
    std::string device;
    std::optional<exchange::VersionCheckResult> test;
    std::optional<exchange::UploadResult> update;
    bool interrupted = false;           // Ctrl+C or an end request ended it
    std::vector<std::string> messages;  // the utility's texts, in order
    std::uint32_t testMs = 0;
    std::uint32_t updateMs = 0;
    int exitCode = 0;
};

// Runs the port's session as `test` (upload false) or `update` runs it; Ctrl+C ends it with
// kExitInterrupted, its port closed.
PortReport RunPortSession(ConsoleSurroundings& s, const ResolvedPort& port, bool upload);

// The port's last word: "interrupted", else its upload's outcome, else its check's; "none"
// when neither ran.
std::string PortOutcomeName(const PortReport& port);
// The scanner's reported version as `test` prints it: "none" for 255 (no application code),
// else the version notation.
std::string ScannerVersionText(int scannerVersion);

// The exchanges' front end on the console: messages and the completion text as lines of
// standard output, the scanner's version before its outcome, the progress on standard error.
class ConsoleFrontEnd final : public exchange::IFrontEnd {
public:
    // askQuestions: false for `test`, which prints the version question and answers it No
    // unasked. clock times the progress.
    ConsoleFrontEnd(Console& console, exchange::IClock& clock, exchange::PortToOpen port,
                    bool askQuestions)
        : m_console(console), m_clock(clock), m_port(std::move(port)), m_ask(askQuestions) {}

    exchange::PortToOpen Port() override { return m_port; }
    void ShowMessage(const std::string& text, exchange::MessageKind) override;
    bool AskYesNo(const std::string& text) override;
    void ScannerReplied(int scannerVersion) override;
    std::unique_ptr<exchange::IProgressWindow> CreateProgressWindow() override;
    void UploadAccepted() override;
    // The question that Ctrl+C ended, if one did.
    const std::string& Unanswered() const { return m_unanswered; }

private:
    Console& m_console;
    exchange::IClock& m_clock;
    exchange::PortToOpen m_port;
    bool m_ask;
    std::string m_unanswered;
};

// Printed on the first Ctrl+C during an upload.
extern const char* const kUploadUnderWayNotice;
// Printed when the second Ctrl+C has abandoned an upload.
extern const char* const kUploadAbandonedNotice;
