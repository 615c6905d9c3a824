#include "json.h"

#include <nlohmann/json.hpp>

#include "link_frame.h"
#include "outcomes.h"

using json = nlohmann::ordered_json;  // members in the order written: command first

namespace comports {

void to_json(json& entry, const ComPortInfo& info) {
    entry = {{"com", info.comNumber},
             {"port", "COM" + std::to_string(info.comNumber)},
             {"present", info.present},
             {"device", info.device},
             {"description", info.description}};
}

}  // namespace comports

void to_json(json& entry, const PortReport& port) {
    const bool replied = port.test && port.test->scannerVersion;
    json test = nullptr;
    json update = nullptr;
    if (port.test) {
        test = {{"outcome", cli::OutcomeName(port.test->outcome)},
                {"question_shown", port.test->questionAsked},
                {"ms", port.testMs}};
    }
    if (const auto& u = port.update) {
        update = {{"outcome", cli::OutcomeName(u->outcome)},
                  {"bytes_sent", u->bytesSent},
                  {"bytes_received", u->bytesReceived},
                  {"packets_sent", u->packetsSent},
                  {"resends", u->resends},
                  {"image_bytes_accepted", u->imageBytesAccepted},
                  {"ms", port.updateMs}};
    }
    entry = {{"port", port.label},
             {"device", port.device},
             {"exit_code", port.exitCode},
             {"outcome", PortOutcomeName(port)},
             {"scanner_version",
              replied ? json(ScannerVersionText(*port.test->scannerVersion)) : json()},
             {"scanner_version_byte", replied ? json(*port.test->scannerVersion) : json()},
             {"messages", port.messages},
             {"test", test},
             {"update", update}};
}

namespace {

std::string Dump(const json& document) {
    // Texts that are not UTF-8 (a device name, say) are replaced, never a reason to fail.
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string CommandJson(const CliRequest& request, const CommandReport& report, int exitCode,
                        const FirmwarePayload& firmware, const std::string& firmwareSha256) {
    json document = {{"command", CommandName(request.command)},
                     {"exit_code", exitCode},
                     {"messages", report.messages}};
    switch (request.command) {
        case CliRequest::Command::kInfo:
            document["firmware"] = {{"version", VersionText(firmware.VersionByte())},
                                    {"version_byte", firmware.VersionByte()},
                                    {"length", static_cast<int>(firmware.imageLength)},
                                    {"packets", scanlink::DataPacketCount(firmware.imageLength)},
                                    {"bytes_per_packet", scanlink::kMaxDataBytes},
                                    {"sha256", firmwareSha256}};
            break;
        case CliRequest::Command::kPorts:
        case CliRequest::Command::kFind:
            document["ports"] = report.listed;
            break;
        case CliRequest::Command::kTest:
        case CliRequest::Command::kUpdate:
            document["ports"] = report.ports;
            break;
    }
    return Dump(document);
}

std::string UnrunJson(const ParsedCommandLine& parsed) {
    if (parsed.exitCode != cli::kExitDone) {
        return Dump(
            {{"command", nullptr}, {"exit_code", parsed.exitCode}, {"error", parsed.error}});
    }
    const bool help = !parsed.help.empty();
    return Dump({{"command", nullptr},
                 {"exit_code", cli::kExitDone},
                 {help ? "help" : "version", help ? parsed.help : parsed.version}});
}

std::string InternalErrorJson(const std::string& error) {
    return Dump({{"command", nullptr}, {"exit_code", cli::kExitInternal}, {"error", error}});
}
