#include "cli_options.h"

#include <CLI/CLI.hpp>
#include <sstream>

#include "com_port_devices.h"
#include "dialog_texts.h"
#include "exit_codes.h"
#include "firmware_payload.h"

namespace {

const char* const kDescription =
    "tr520-cli: the TR-520/521 CPU Update Utility from a terminal. It carries one firmware\n"
    "image and runs the dialog's TEST and UPDATE on a COM port; the utility's messages go to\n"
    "standard output, the progress of an upload to standard error.";

std::string Footer() {
    return "Examples:\n"
           "  tr520-cli ports --find\n"
           "  tr520-cli test --port COM33\n"
           "  tr520-cli update --port auto --yes\n"
           "\n"
           "Ports:\n"
           "  --port takes " +
           PortArgumentHelp() +
           ".\n"
           "  auto uses the one port where the scanner sends its ready byte, as ports --find\n"
           "  finds it, and refuses, with the list, when there are none or several.\n"
           "  Only `ports --find` and --port auto open ports other than the one named, and\n"
           "  only present ones: opening a port raises DTR and RTS, which resets some devices.\n"
           "\n"
           "Questions (the start-up warning and the version question of update) are asked on\n"
           "the terminal, y/N with No by default; --yes answers Yes; without a terminal and\n"
           "without --yes they count as No. Ctrl+C during an upload must be pressed twice.\n"
           "\n" +
           cli::ExitCodeHelp();
}

struct Options {
    bool quiet = false;
    bool all = false;
    bool find = false;
    bool yes = false;
    std::string port;
};

void AddCommands(CLI::App& app, Options& o) {
    app.fallthrough();  // --quiet also after the command; subcommands take it on creation
    app.add_flag("-q,--quiet", o.quiet, "No progress display and no notes on standard error");
    app.add_subcommand("info", "The carried firmware: version, length, packets and SHA-256");
    CLI::App* ports = app.add_subcommand(
        "ports", "The COM ports whose device is present, each with the device it stands for");
    ports->add_flag("--all", o.all,
                    "List all " + std::to_string(comports::kComPortCount) + " COM ports");
    ports->add_flag("--find", o.find,
                    "Find the scanner: listen on each present port that no other program holds "
                    "for up to 2 s for its ready byte, sending nothing. Only present ports are "
                    "opened, and only on this command: opening a port raises DTR and RTS, which "
                    "resets some devices");
    ports->footer(
        "Exit codes: 0 listed (with --find: the scanner was found), 3 --find found "
        "no scanner, 1 usage, 130 interrupted.");
    CLI::App* test = app.add_subcommand(
        "test", "TEST: print the scanner's version and the utility's message; starts nothing");
    test->add_option("-p,--port", o.port, PortArgumentHelp())->required();
    CLI::App* update =
        app.add_subcommand("update", "TEST, then UPDATE: write the carried firmware");
    update->add_option("-p,--port", o.port, PortArgumentHelp())->required();
    update->add_flag("-y,--yes", o.yes, "Answer Yes to the start-up warning and the question");
    app.require_subcommand(1);
}

CliRequest::Command CommandOf(const CLI::App& app, const Options& o) {
    const std::string name = app.get_subcommands().front()->get_name();
    if (name == "ports") {
        return o.find ? CliRequest::Command::kFind : CliRequest::Command::kPorts;
    }
    if (name == "test") {
        return CliRequest::Command::kTest;
    }
    return name == "update" ? CliRequest::Command::kUpdate : CliRequest::Command::kInfo;
}

}  // namespace

std::string CliVersionText() {
    return std::string("tr520-cli " TR_VERSION_DOTTED "\n" TR_VERSION_DESCRIPTION
                       "\ncarrying CPU firmware ") +
           VersionText(g_carriedFirmware.VersionByte()) +
           "\n" TR_TEXT_COPYRIGHT " " TR_VERSION_COMPANY;
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
        const int code = app.exit(error, out, err);
        return {std::nullopt, code == 0 ? cli::kExitDone : cli::kExitUsage};
    }
    CliRequest request;
    request.command = CommandOf(app, o);
    request.quiet = o.quiet;
    request.allPorts = o.all;
    request.assumeYes = o.yes;
    if (o.find && o.all) {
        err << "ports: --all and --find do not go together\n";
        return {std::nullopt, cli::kExitUsage};
    }
    if (request.command == CliRequest::Command::kTest ||
        request.command == CliRequest::Command::kUpdate) {
        std::string error;
        const auto port = ParsePortArgument(o.port, error);
        if (!port) {
            err << error << "\n";
            return {std::nullopt, cli::kExitUsage};
        }
        request.port = *port;
    }
    return {request, cli::kExitDone};
}
