// One port's session in a console command: TEST, and for update the UPDATE after a TEST that
// offered it, every port and clock call looking for Ctrl+C first, the upload inside the hold on
// sleep and shutdown; and the exchanges' front end on the console.
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
    // Why a port (a COM name or device path) could not be opened, in one line; empty if unknown.
    std::function<std::string(const std::string&)> whyNotOpened;

    // Says on standard error why the port could not be opened, where that can be told.
    void SayWhyNotOpened(const std::string& port) const;
};

// A port a command runs on, with what the console shows for it.
struct ResolvedPort {
    PortArgument argument;
    std::string label;   // "COM41", or the device path
    std::string device;  // what the port stands for; empty when unknown
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

// "interrupted", else the upload's outcome, else the check's; "none" when neither ran.
std::string PortOutcomeName(const PortReport& port);
// "none" for 255 (no application code), else the version notation.
std::string ScannerVersionText(int scannerVersion);

// The exchanges' front end on the console: messages as lines of standard output, the scanner's
// version, which the dialog keeps to itself, and the progress on standard error.
class ConsoleFrontEnd final : public exchange::IFrontEnd {
public:
    // askQuestions: false for `test`, which prints the version question and answers it No
    // unasked. clock times the progress.
    ConsoleFrontEnd(Console& console, exchange::IClock& clock, exchange::PortToOpen port,
                    bool askQuestions)
        : m_console(console), m_clock(clock), m_port(std::move(port)), m_ask(askQuestions) {}

    exchange::PortToOpen Port() override { return m_port; }
    void ShowMessage(const std::string& text, exchange::MessageKind) override {
        m_console.Line(text);
    }
    bool AskYesNo(const std::string& text) override;
    void ScannerReplied(int scannerVersion) override {
        m_console.Line("Scanner version: " + ScannerVersionText(scannerVersion));
    }
    std::unique_ptr<exchange::IProgressWindow> CreateProgressWindow() override {
        return m_console.CreateProgress(m_clock);
    }
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

// The first Ctrl+C during an upload, and the second, which has abandoned it.
extern const char* const kUploadUnderWayNotice;
extern const char* const kUploadAbandonedNotice;
