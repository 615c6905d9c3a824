// The command line of tr520-cli: what each form asks for, and what is a usage error.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "options.h"

namespace {

struct Parsed {
    ParsedCommandLine result;
    std::string out;
    std::string err;
};

Parsed Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "tr520-cli");
    std::ostringstream out;
    std::ostringstream err;
    Parsed parsed{ParseCommandLine(static_cast<int>(args.size()), args.data(), out, err), {}, {}};
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

using Command = CliRequest::Command;

}  // namespace

TEST(CliOptions, EachCommandAndItsOptions) {
    struct Case {
        std::vector<const char*> args;
        Command command;
        bool all, quiet, yes;
        int com;
    };
    const std::vector<Case> cases{
        {{"info"}, Command::kInfo, false, false, false, 0},
        {{"ports"}, Command::kPorts, false, false, false, 0},
        {{"ports", "--all"}, Command::kPorts, true, false, false, 0},
        {{"ports", "--find", "-q"}, Command::kFind, false, true, false, 0},
        {{"--quiet", "test", "--port", "COM3"}, Command::kTest, false, true, false, 3},
        {{"test", "-p", "12"}, Command::kTest, false, false, false, 12},
        {{"update", "--port", "com7", "--yes", "--quiet"}, Command::kUpdate, false, true, true, 7},
        {{"update", "-y", "-p", "256"}, Command::kUpdate, false, false, true, 256},
    };
    for (const Case& c : cases) {
        const Parsed parsed = Parse(c.args);
        ASSERT_TRUE(parsed.result.request) << c.args[0] << parsed.err;
        const CliRequest& request = *parsed.result.request;
        EXPECT_EQ(request.command, c.command) << c.args[0];
        EXPECT_EQ(request.allPorts, c.all);
        EXPECT_EQ(request.quiet, c.quiet) << c.args[0];
        EXPECT_EQ(request.assumeYes, c.yes);
        if (c.com != 0) {
            ASSERT_EQ(request.ports.size(), 1u);
            EXPECT_EQ(request.ports[0].kind, PortArgument::Kind::kComNumber);
            EXPECT_EQ(request.ports[0].comNumber, c.com);
        }
    }
    EXPECT_EQ(Parse({"test", "--port", "auto"}).result.request->ports.at(0).kind,
              PortArgument::Kind::kAuto);
    const Parsed several = Parse({"--json", "update", "-p", "3", "--yes", "--port", "COM4"});
    ASSERT_TRUE(several.result.request) << several.err;
    EXPECT_TRUE(several.result.request->json);
    ASSERT_EQ(several.result.request->ports.size(), 2u);
    EXPECT_EQ(several.result.request->ports[1].comNumber, 4);
}

TEST(CliOptions, UsageErrorsExitOne) {
    for (const auto& args : std::vector<std::vector<const char*>>{
             {},
             {"flash"},
             {"test"},
             {"update"},
             {"test", "--port"},
             {"test", "--port", "COM0"},
             {"test", "--port", "COM257"},
             {"test", "--port", "ttyUSB0"},
             {"info", "--port", "COM1"},
             {"info", "extra"},
             {"ports", "--all", "--find"},
             {"test", "--port", "COM1", "--yes"},
             {"update", "--port", "COM1", "--port", "COM2"},  // several ports need --yes
             {"test", "--port", "auto", "--port", "COM2"},
             {"update", "--yes", "--port", "found", "--port", "found"},
             {"test", "--port", "COM3", "--port", "3"},
             {"--frobnicate", "info"},
             {"--\x1b[2J", "info"},
             {"test", "--port", "a\x1b]0;PWN\a"},
         }) {
        const Parsed parsed = Parse(args);
        EXPECT_FALSE(parsed.result.request) << (args.empty() ? "(none)" : args.back());
        EXPECT_EQ(parsed.result.exitCode, 1) << (args.empty() ? "(none)" : args.back());
        EXPECT_FALSE(parsed.err.empty());
        EXPECT_EQ(parsed.err.find('\x1b'), std::string::npos) << "what was typed, escaped";
        EXPECT_TRUE(parsed.out.empty());
    }
}

TEST(CliOptions, HelpNamesTheExitCodesAndWhatOpeningAPortDoes) {
    const Parsed help = Parse({"--help"});
    EXPECT_FALSE(help.result.request);
    EXPECT_EQ(help.result.exitCode, 0);
    for (const char* text :
         {"Exit codes:", "  130  interrupted", "  6    the question was answered No",
          "raises DTR and RTS", "info", "ports", "test", "update", "--quiet", "auto"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    const Parsed ports = Parse({"ports", "--help"});
    EXPECT_EQ(ports.result.exitCode, 0);
    EXPECT_NE(ports.out.find("Only present ports are opened, and only on this command"),
              std::string::npos)
        << ports.out;
    const Parsed version = Parse({"--version"});
    EXPECT_EQ(version.result.exitCode, 0);
    EXPECT_EQ(version.out.rfind("tr520-cli 0.1.1\n", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("TR-520/521 CPU Update Utility v1.10 for Boot Ver1.00"),
              std::string::npos);
}
