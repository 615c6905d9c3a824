// tr520-scanner-sim: a simulated scanner in its upgrade mode, published as a COM port, for
// trying the utility without a scanner. Exit status 0: a complete, correct upload was seen.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <charconv>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "scanner_sim.h"

namespace {

constexpr int kExitUploadSeen = 0;
constexpr int kExitNoUpload = 1;
constexpr int kExitUsage = 2;

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_summaryAsked{false};

void OnSignal(int) {
    g_interrupted = true;
}

void OnSummarySignal(int) {
    g_summaryAsked = true;
}

const char kDescription[] =
    "tr520-scanner-sim: stands in for a TR-520/521 in its CPU SW Upgrade mode on a\n"
    "pseudo-terminal, published as a COM port for the update utility. Prints a summary at the\n"
    "end; on SIGUSR1 the summary so far (between the lines \"--- summary so far\" and \"---\"),\n"
    "then it counts afresh. Exits 0 when a complete and correct image was uploaded since, 1\n"
    "otherwise, 2 on a usage error.";

struct Arguments {
    scannersim::Options options;
    int timeoutSeconds = 0;
};

// One byte in hexadecimal, as "3F" or "0x3F".
bool ParseHexByte(const std::string& text, std::uint8_t& byte) {
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
    }
    unsigned value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value > 0xFF) {
        return false;
    }
    byte = static_cast<std::uint8_t>(value);
    return true;
}

const CLI::Validator kHexByte(
    [](std::string& text) {
        std::uint8_t byte = 0;
        return ParseHexByte(text, byte) ? std::string() : "not one byte in hexadecimal: " + text;
    },
    "HEX");

const CLI::Validator kTwoCharacters(
    [](std::string& text) {
        return text.size() == 2 ? std::string() : "exactly two characters: " + text;
    },
    "DD");

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw CLI::ValidationError("--expect", "cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A millisecond option of at least minimum.
CLI::Option* AddMs(CLI::App& app, const std::string& name, scannersim::Ms& target, int minimum,
                   const std::string& help) {
    return app
        .add_option_function<int>(
            name, [&target](const int& ms) { target = scannersim::Ms(ms); }, help)
        ->check(CLI::Range(minimum, std::numeric_limits<int>::max()))
        ->type_name("MS");
}

CLI::Option* AddByte(CLI::App& app, const std::string& name, std::uint8_t& target,
                     const std::string& help) {
    return app
        .add_option_function<std::string>(
            name, [&target](const std::string& text) { ParseHexByte(text, target); }, help)
        ->check(kHexByte);
}

void AddPortOptions(CLI::App& app, scannersim::Options& o) {
    app.add_option("--com", o.comNumber,
                   "publish as COM N (default 1): a link comN in the port link directory "
                   "($XDG_CONFIG_HOME/tr520-updater/ports, by default "
                   "~/.config/tr520-updater/ports)")
        ->check(CLI::Range(1, 256))
        ->type_name("N");
    app.add_option("--link-dir", o.linkDirectory, "put the link in DIR instead")
        ->type_name("DIR");
    app.add_flag("--replace", o.replaceLink, "replace an existing comN entry");
    app.add_option("--device", o.devicePath,
                   "serve this existing terminal device (made raw) instead of a pseudo-terminal "
                   "of its own, e.g. a USB gadget's /dev/ttyGS0; it is not published")
        ->type_name("PATH");
    app.add_flag("--line-speed", o.lineSpeed,
                 "let bytes take their time on the line (115200 baud: 86.8 us)");
    app.add_flag("--device-like", o.deviceLike,
                 "let the pseudo-terminal behave like a device: default settings (echo on), no "
                 "end of ours held open, bytes sent only while the utility has it open; bytes "
                 "echoed back count as unexpected");
    app.add_option("--baud", o.baudRate, "the line speed to emulate (default 115200)")
        ->check(CLI::Range(1, std::numeric_limits<int>::max()))
        ->type_name("N");
}

void AddVersionCheckOptions(CLI::App& app, scannersim::Options& o) {
    app.add_flag_callback("--no-ready", [&o] { o.sendReady = false; },
                          "never send the ready byte 'C'");
    AddMs(app, "--ready-interval", o.readyInterval, 1, "between ready bytes (default 30)");
    app.add_option("--version", o.versionDigits,
                   "version digits of the reply, two characters (default 10)")
        ->check(kTwoCharacters);
    AddByte(app, "--reply-x", o.replyX, "the reply's first uninterpreted byte (default 52)");
    AddByte(app, "--reply-y", o.replyY, "the reply's second uninterpreted byte (default 35)");
    AddMs(app, "--reply-delay", o.replyDelay, 0, "before each reply (default 0)");
    app.add_flag("--broken-reply", o.brokenReplyFirst,
                 "send one reply with a wrong checksum first");
    app.add_flag_callback("--no-reply", [&o] { o.answerQuery = false; },
                          "leave the query unanswered");
}

void AddUploadOptions(CLI::App& app, scannersim::Options& o) {
    AddMs(app, "--start-busy", o.startBusy, 0,
          "DLE keep-alives for MS after the start packet (default 0)");
    app.add_flag_callback("--no-go-ahead", [&o] { o.sendGoAhead = false; },
                          "no ENQ after the start packet");
    AddMs(app, "--busy-interval", o.busyInterval, 1, "between keep-alives (default 300)");
    app.add_option("--nak-every", o.nak.every, "refuse every K-th data packet")
        ->check(CLI::NonNegativeNumber)
        ->type_name("K");
    app.add_option("--nak-packet", o.nak.packet, "refuse data packet P (1-based)")
        ->check(CLI::NonNegativeNumber)
        ->type_name("P");
    app.add_option("--nak-times", o.nak.times,
                   "refuse such a packet N times before ACK (default 1)")
        ->check(CLI::Range(1, std::numeric_limits<int>::max()))
        ->type_name("N");
    AddMs(app, "--verdict-busy", o.verdictBusy, 0,
          "DLE keep-alives for MS before the verdict (default 0)");
    const std::map<std::string, scannersim::VerdictMode> verdicts{
        {"judge", scannersim::VerdictMode::Judge},
        {"reject", scannersim::VerdictMode::Reject},
        {"silence", scannersim::VerdictMode::Silence},
        {"unknown", scannersim::VerdictMode::Unknown}};
    app.add_option("--verdict", o.verdict,
                   "judge (EOT when correct, else CAN; default), reject (CAN), silence, "
                   "unknown")
        ->transform(CLI::CheckedTransformer(verdicts))
        ->type_name("MODE");
    AddByte(app, "--unknown-byte", o.unknownVerdictByte,
            "the byte of --verdict unknown (default 3F)");
    app.add_option("--hang-up-after-packets", o.hangUpAfterPackets,
                   "close the line after N data packets")
        ->check(CLI::NonNegativeNumber)
        ->type_name("N");
    app.add_option("--hang-up-after-bytes", o.hangUpAfterBytes,
                   "close the line after N upload bytes (start packet included)")
        ->check(CLI::NonNegativeNumber)
        ->type_name("N");
    app.add_option_function<std::string>(
           "--expect", [&o](const std::string& path) { o.expectedImage = ReadFile(path); },
           "the image a correct upload delivers (default: the carried one)")
        ->type_name("FILE");
}

void AddRunOptions(CLI::App& app, Arguments& args) {
    app.add_flag("--keep-running", args.options.keepRunning,
                 "after a verdict, wait for the next upload (stop with Ctrl+C)");
    app.add_option("--timeout", args.timeoutSeconds, "give up after S seconds")
        ->check(CLI::NonNegativeNumber)
        ->type_name("S");
    app.add_flag_callback(
        "--verbose",
        [&args] {
            args.options.trace = [](const std::string& line) {
                std::cerr << "sim: " << line << "\n";
            };
        },
        "print each event");
}

// Publishing and hanging up work on a pseudo-terminal of the simulator's own only.
void RefuseBesideDevice(CLI::App& app) {
    for (const char* name : {"--com", "--link-dir", "--replace", "--hang-up-after-packets",
                             "--hang-up-after-bytes", "--device-like"}) {
        if (app.get_option(name)->count() > 0) {
            throw CLI::ExcludesError("--device", name);
        }
    }
}

// The arguments, or the exit code when they were --help or wrong (and said so).
std::optional<Arguments> Parse(int argc, char** argv, int& exitCode) {
    Arguments args;
    args.options.comNumber = 1;
    CLI::App app(kDescription, "tr520-scanner-sim");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    AddPortOptions(*app.add_option_group("Port"), args.options);
    AddVersionCheckOptions(*app.add_option_group("Version check"), args.options);
    AddUploadOptions(*app.add_option_group("Upload"), args.options);
    AddRunOptions(*app.add_option_group("Run"), args);
    try {
        app.parse(argc, argv);
        if (!args.options.devicePath.empty()) {
            RefuseBesideDevice(app);
            args.options.comNumber = 0;  // the utility opens the far end, not this device
        }
    } catch (const CLI::ParseError& error) {
        exitCode = app.exit(error) == 0 ? kExitUploadSeen : kExitUsage;
        return std::nullopt;
    }
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    const std::optional<Arguments> parsed = Parse(argc, argv, exitCode);
    if (!parsed) {
        return exitCode;
    }
    const Arguments& args = *parsed;
    // Ending through Stop removes the COM link. A closed terminal window sends SIGHUP; a link
    // left behind would lead to whichever terminal gets the pseudo-terminal's number next.
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    signal(SIGHUP, OnSignal);
    // A harness that keeps one simulator up for several exchanges reads what each one did.
    signal(SIGUSR1, OnSummarySignal);

    scannersim::ScannerSim sim(args.options);
    std::string error;
    if (!sim.Start(&error)) {
        std::cerr << "tr520-scanner-sim: " << error << "\n";
        return kExitNoUpload;
    }
    std::cout << "Simulated scanner on " << sim.DevicePath();
    if (!sim.LinkPath().empty()) {
        std::cout << ", published as COM" << args.options.comNumber << " ("
                  << sim.LinkPath().string() << ")";
    }
    std::cout << std::endl;

    const auto start = std::chrono::steady_clock::now();
    while (!g_interrupted && !sim.WaitFinished(scannersim::Ms(100))) {
        if (g_summaryAsked.exchange(false)) {
            std::cout << "--- summary so far\n"
                      << scannersim::FormatSummary(sim.TakeSummary()) << "---" << std::endl;
        }
        if (args.timeoutSeconds > 0 &&
            std::chrono::steady_clock::now() - start >= std::chrono::seconds(args.timeoutSeconds)) {
            std::cerr << "tr520-scanner-sim: timed out\n";
            break;
        }
    }
    if (sim.Finished() && !sim.GetSummary().hungUp) {
        // Leave the line up a moment so the utility reads the verdict before it goes.
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    sim.Stop();
    const scannersim::Summary summary = sim.GetSummary();
    std::cout << scannersim::FormatSummary(summary);
    return summary.completeCorrectUpload ? kExitUploadSeen : kExitNoUpload;
}
