#include "json.h"

#include <nlohmann/json.hpp>

#include "link_frame.h"
#include "outcomes.h"

namespace {

using json = nlohmann::ordered_json;  // members in the order written: command first

json Firmware(const FirmwarePayload& firmware, const std::string& sha256) {
    const auto length = static_cast<int>(firmware.imageLength);
    return {{"version", VersionText(firmware.VersionByte())},
            {"version_byte", firmware.VersionByte()},
            {"length", length},
            {"packets", scanlink::DataPacketCount(firmware.imageLength)},
            {"bytes_per_packet", scanlink::kMaxDataBytes},
            {"sha256", sha256}};
}

json ListedPort(const comports::ComPortInfo& info) {
    return {{"com", info.comNumber},
            {"port", "COM" + std::to_string(info.comNumber)},
            {"present", info.present},
            {"device", info.device},
            {"description", info.description}};
}

json TestPart(const PortReport& port) {
    if (!port.test) {
        return nullptr;
    }
    return {{"outcome", cli::OutcomeName(port.test->outcome)},
            {"question_shown", port.test->questionAsked},
            {"ms", port.testMs}};
}

json UpdatePart(const PortReport& port) {
    if (!port.update) {
        return nullptr;
    }
    const exchange::UploadResult& update = *port.update;
    return {{"outcome", cli::OutcomeName(update.outcome)},
            {"bytes_sent", update.bytesSent},
            {"bytes_received", update.bytesReceived},
            {"packets_sent", update.packetsSent},
            {"resends", update.resends},
            {"image_bytes_accepted", update.imageBytesAccepted},
            {"ms", port.updateMs}};
}

json Port(const PortReport& port) {
    json version = nullptr;
    json versionByte = nullptr;
    if (port.test && port.test->scannerVersion) {
        version = ScannerVersionText(*port.test->scannerVersion);
        versionByte = *port.test->scannerVersion;
    }
    return {{"port", port.label},
            {"device", port.device},
            {"exit_code", port.exitCode},
            {"outcome", PortOutcomeName(port)},
            {"scanner_version", version},
            {"scanner_version_byte", versionByte},
            {"messages", port.messages},
            {"test", TestPart(port)},
            {"update", UpdatePart(port)}};
}

// Each item as an entry of an array.
template <typename Item>
json ArrayOf(const std::vector<Item>& items, json (*entry)(const Item&)) {
    json array = json::array();
    for (const Item& item : items) {
        array.push_back(entry(item));
    }
    return array;
}

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
            document["firmware"] = Firmware(firmware, firmwareSha256);
            break;
        case CliRequest::Command::kPorts:
        case CliRequest::Command::kFind:
            document["ports"] = ArrayOf(report.listed, ListedPort);
            break;
        case CliRequest::Command::kTest:
        case CliRequest::Command::kUpdate:
            document["ports"] = ArrayOf(report.ports, Port);
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
