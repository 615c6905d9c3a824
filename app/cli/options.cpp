#include "options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <sstream>

#include "com_port_devices.h"
#include "com_port_sources.h"
#include "dialog_texts.h"
#include "firmware_payload.h"
#include "outcomes.h"
#include "platform.h"
#include "printable_text.h"

namespace {

using Command = CliRequest::Command;

const char* const kDescription =
    "tr520-cli: the TR-520/521 CPU Update Utility from a terminal. It carries one firmware\n"
    "image and runs the dialog's TEST and UPDATE on one COM port or on several at once; the\n"
    "utility's messages go to standard output, the progress of an upload to standard error.";

std::string Footer() {
    return "Examples:\n"
           "  tr520-cli ports --find\n"
           "  tr520-cli test --port COM33\n"
           "  tr520-cli update --port auto --yes\n"
           "  tr520-cli update --port COM33 --port COM34 --yes --json\n"
           "  tr520-cli update --port found --yes\n"
           "\n"
           "Ports:\n"
           "  --port takes " +
           PortArgumentHelp() +
           ".\n"
           "  auto uses the one port where the scanner sends its ready byte, as ports --find\n"
           "  finds it, and refuses, with the list, when there are none or several; found\n"
           "  uses every such port. Only `ports --find` and --port auto or found open ports\n"
           "  other than those named, and only present ones: opening a port\n"
           "  raises DTR and RTS, which resets some devices.\n"
           "\n"
           "Several ports: --port again for each; every port runs its own TEST and UPDATE at\n"
           "the same time, its lines prefixed with the port, and a table ends the run (port,\n"
           "device, scanner version before, outcome, time).\n"
           "\n"
           "Questions (the start-up warning and the version question of update) are asked on\n"
           "the terminal, y/N with No by default; --yes answers Yes; without a terminal and\n"
           "without --yes they count as No; update on several ports needs --yes. Ctrl+C during\n"
           "an upload must be pressed twice: the second press abandons every upload.\n"
           "\n"
           "--json: standard output carries one JSON document and nothing else, also when the\n"
           "command fails; progress and notes stay on standard error. Its members:\n"
           "  command, exit_code; error (a wrong command line); help, version (--help,\n"
           "  --version: their text, also on standard error); messages (texts shown outside\n"
           "  any port: update's start-up warning);\n"
           "  info: firmware {version, version_byte, length, packets, bytes_per_packet, sha256};\n"
           "  ports, ports --find: ports [{com, port, present, device, description}];\n"
           "  test, update: ports [{port, device, exit_code, outcome, scanner_version,\n"
           "  scanner_version_byte, messages, test {outcome, question_shown, ms},\n"
           "  update {outcome, bytes_sent, bytes_received, packets_sent, resends,\n"
           "  image_bytes_accepted, ms}}], one per port; test or update is null where it did\n"
           "  not run, the version null where the scanner did not reply.\n" +
           cli::OutcomeHelp() + "\n" + cli::ExitCodeHelp();
}

std::string CliVersionText() {
    return std::string("tr520-cli " TR_VERSION_PACKAGE "\n" TR_VERSION_DESCRIPTION
                       "\ncarrying CPU firmware ") +
           VersionText(g_carriedFirmware.VersionByte()) +
           "\n" TR_TEXT_COPYRIGHT " " TR_VERSION_COMPANY;
}

// What CLI11 fills in: the request, and what is read into it once the whole line is parsed.
struct Options {
    CliRequest request;
    bool find = false;
    std::vector<std::string> ports;
};

void AddCommands(CLI::App& app, Options& o) {
    CliRequest& r = o.request;
    app.fallthrough();  // --quiet also after the command; subcommands take it on creation
    app.add_flag("-q,--quiet", r.quiet, "No progress display and no notes on standard error");
    app.add_flag("--json", r.json,
                 "One JSON document on standard output, nothing else (see below)");
    app.add_subcommand("info", "The carried firmware: version, length, packets and SHA-256")
        ->callback([&r] { r.command = Command::kInfo; });
    CLI::App* ports = app.add_subcommand(
        "ports", "The COM ports whose device is present, each with the device it stands for");
    ports->callback([&o] { o.request.command = o.find ? Command::kFind : Command::kPorts; });
    ports->add_flag("--all", r.allPorts,
                    "List all " + std::to_string(comports::kComPortCount) + " COM ports");
    ports->add_flag("--find", o.find,
                    "Find the scanner: listen on each present port that no other program holds "
                    "for up to 2 s for its ready byte, sending nothing. Only present ports are "
                    "opened, and only on this command: opening a port raises DTR and RTS, which "
                    "resets some devices");
    ports->footer(
        "Exit codes: 0 listed (with --find: the scanner was found), 2 --find found no "
        "scanner and could not open a present port, 3 --find found no scanner, 1 usage, "
        "130 interrupted.");
    const std::string portHelp = PortArgumentHelp() + "; again for several ports";
    CLI::App* test = app.add_subcommand(
        "test", "TEST: print the scanner's version and the utility's message; starts nothing");
    test->callback([&r] { r.command = Command::kTest; });
    test->add_option("-p,--port", o.ports, portHelp)->required()->expected(1)->take_all();
    CLI::App* update =
        app.add_subcommand("update", "TEST, then UPDATE: write the carried firmware");
    update->callback([&r] { r.command = Command::kUpdate; });
    update->add_option("-p,--port", o.ports, portHelp)->required()->expected(1)->take_all();
    update->add_flag("-y,--yes", r.assumeYes,
                     "Answer Yes to the start-up warning and the question");
    app.require_subcommand(1);
}

// A wrong command line: its reason on standard error, and for --json in the document.
ParsedCommandLine Refused(std::ostream& err, bool json, const std::string& error) {
    err << error << "\n";
    return {std::nullopt, cli::kExitUsage, json, error, {}, {}};
}

// Help, version or a wrong command line, as CLI11 reports them.
ParsedCommandLine Unrun(CLI::App& app, const CLI::ParseError& error, int argc,
                        const char* const* argv, std::ostream& out, std::ostream& err) {
    const bool json = std::any_of(argv + 1, argv + argc,
                                  [](const char* arg) { return std::strcmp(arg, "--json") == 0; });
    std::ostringstream shown;
    std::ostringstream said;
    const int code = app.exit(error, shown, said);
    // CLI11's words, with what was typed in them shown escaped.
    const std::string what = error.what();
    std::string reason = said.str().compare(0, what.size(), what) != 0
                             ? PrintableText(said.str())
                             : PrintableText(what) + said.str().substr(what.size());
    err << reason;
    if (code == 0) {
        // With --json standard output holds the document alone: the text goes where the user
        // reads it, and into the document.
        (json ? err : out) << shown.str();
        const bool version = error.get_name() == "CallForVersion";
        return {std::nullopt,
                cli::kExitDone,
                json,
                {},
                version ? "" : shown.str(),
                version ? shown.str() : ""};
    }
    reason = reason.substr(0, reason.find('\n'));  // CLI11 adds a hint after the reason
    return {std::nullopt, cli::kExitUsage, json, reason, {}, {}};
}

}  // namespace

std::optional<PortArgument> ParsePortArgument(const std::string& text, std::string& error) {
    if (text == "auto" || text == "found") {
        return PortArgument{
            text == "auto" ? PortArgument::Kind::kAuto : PortArgument::Kind::kFound, 0, {}};
    }
    // A bare number is read as the COM name it stands for, by the rule the port list uses.
    auto number = comports::ParseComName(text);
    if (!number) {
        number = comports::ParseComName("COM" + text);
    }
    if (number) {
        return PortArgument{PortArgument::Kind::kComNumber, *number, {}};
    }
    if (auto device = DevicePathArgument(text)) {
        return device;
    }
    error = "--port " + PrintableText(text) + ": not " + PortArgumentHelp();
    return std::nullopt;
}

bool CheckPortArguments(const std::vector<PortArgument>& ports, std::string& error) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const PortArgument& port = ports[i];
        if (ports.size() > 1 &&
            (port.kind == PortArgument::Kind::kAuto || port.kind == PortArgument::Kind::kFound)) {
            error = "--port auto and --port found stand alone: they choose the ports themselves";
            return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            const bool sameCom = port.comNumber > 0 && port.comNumber == ports[j].comNumber;
            const bool samePath = port.kind == PortArgument::Kind::kDevicePath &&
                                  ports[j].kind == PortArgument::Kind::kDevicePath &&
                                  SamePortDevice(port.devicePath, ports[j].devicePath);
            if (sameCom || samePath) {
                error = "--port " + PortLabel(port) + " is named twice (as " + PortLabel(ports[j]) +
                        ")";
                return false;
            }
        }
    }
    return true;
}

std::string PortLabel(const PortArgument& port) {
    switch (port.kind) {
        case PortArgument::Kind::kComNumber:
            return "COM" + std::to_string(port.comNumber);
        case PortArgument::Kind::kDevicePath:
            return PrintableText(port.devicePath);
        case PortArgument::Kind::kAuto:
            return "auto";
        case PortArgument::Kind::kFound:
            return "found";
    }
    return "?";
}

std::string PortArgumentHelp() {
    return "COMn or n (1 to " + std::to_string(comports::kComPortCount) + "), auto, found" +
           (DevicePathsAccepted() ? ", or a device path such as /dev/ttyUSB0" : "");
}

std::string CommandName(Command command) {
    switch (command) {
        case Command::kInfo:
            return "info";
        case Command::kPorts:
            return "ports";
        case Command::kFind:
            return "ports --find";
        case Command::kTest:
            return "test";
        case Command::kUpdate:
            return "update";
    }
    return "";
}

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err) {
    CLI::App app(kDescription, "tr520-cli");
    app.set_version_flag("--version", CliVersionText());
    app.footer(Footer());
    Options o;
    AddCommands(app, o);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return Unrun(app, error, argc, argv, out, err);
    }
    CliRequest& request = o.request;
    if (o.find && request.allPorts) {
        return Refused(err, request.json, "ports: --all and --find do not go together");
    }
    for (const std::string& text : o.ports) {
        std::string error;
        const auto port = ParsePortArgument(text, error);
        if (!port) {
            return Refused(err, request.json, error);
        }
        request.ports.push_back(*port);
    }
    if (std::string error; !CheckPortArguments(request.ports, error)) {
        return Refused(err, request.json, error);
    }
    if (request.command == Command::kUpdate && request.ports.size() > 1 && !request.assumeYes) {
        return Refused(err, request.json, kSeveralPortsNeedYes);
    }
    return {request, cli::kExitDone, request.json, {}, {}, {}};
}
