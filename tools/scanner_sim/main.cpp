// tr520-scanner-sim: a simulated scanner in its upgrade mode, published as a COM port, for
// trying the utility without a scanner. Exit status 0: a complete, correct upload was seen.
#include <signal.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

#include "scanner_sim.h"

namespace {

constexpr int kExitUploadSeen = 0;
constexpr int kExitNoUpload = 1;
constexpr int kExitUsage = 2;

std::atomic<bool> g_interrupted{false};

void OnSignal(int) {
    g_interrupted = true;
}

const char kUsage[] =
    "Usage: tr520-scanner-sim [options]\n"
    "Stands in for a TR-520/521 in its CPU SW Upgrade mode on a pseudo-terminal, published\n"
    "as a COM port for the update utility. Prints a summary at the end; exits 0 when a\n"
    "complete and correct image was uploaded, 1 otherwise, 2 on a usage error.\n"
    "\n"
    "Port:\n"
    "  --com N                 publish as COM N (default 1): a link comN in the port link\n"
    "                          directory ($XDG_CONFIG_HOME/tr520-updater/ports, by default\n"
    "                          ~/.config/tr520-updater/ports)\n"
    "  --link-dir DIR          put the link in DIR instead\n"
    "  --replace               replace an existing comN entry\n"
    "  --line-speed            let bytes take their time on the line (115200 baud: 86.8 us)\n"
    "  --baud N                the line speed to emulate (default 115200)\n"
    "Version check:\n"
    "  --no-ready              never send the ready byte 'C'\n"
    "  --ready-interval MS     between ready bytes (default 30)\n"
    "  --version DD            version digits of the reply, two characters (default 10)\n"
    "  --reply-x HEX, --reply-y HEX   the reply's two uninterpreted bytes\n"
    "  --reply-delay MS        before each reply (default 0)\n"
    "  --broken-reply          send one reply with a wrong checksum first\n"
    "  --no-reply              leave the query unanswered\n"
    "Upload:\n"
    "  --start-busy MS         DLE keep-alives for MS after the start packet (default 0)\n"
    "  --no-go-ahead           no ENQ after the start packet\n"
    "  --busy-interval MS      between keep-alives (default 300)\n"
    "  --nak-every K           refuse every K-th data packet\n"
    "  --nak-packet P          refuse data packet P (1-based)\n"
    "  --nak-times N           refuse such a packet N times before ACK (default 1)\n"
    "  --verdict-busy MS       DLE keep-alives for MS before the verdict (default 0)\n"
    "  --verdict MODE          judge (EOT when correct, else CAN; default), reject (CAN),\n"
    "                          silence, unknown\n"
    "  --unknown-byte HEX      the byte of --verdict unknown (default 3F)\n"
    "  --hang-up-after-packets N   close the line after N data packets\n"
    "  --hang-up-after-bytes N     close the line after N upload bytes (start packet included)\n"
    "  --expect FILE           the image a correct upload delivers (default: the carried one)\n"
    "Run:\n"
    "  --keep-running          after a verdict, wait for the next upload (stop with Ctrl+C)\n"
    "  --timeout S             give up after S seconds\n"
    "  --verbose               print each event\n"
    "  --help                  this text\n";

struct Usage {
    std::string message;
};

template <typename Number>
Number ParseNumber(std::string_view option, std::string_view text, int base = 10) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        throw Usage{std::string(option) + ": not a number: " + std::string(text)};
    }
    return value;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Usage{"--expect: cannot read " + path};
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

scannersim::VerdictMode ParseVerdict(std::string_view text) {
    if (text == "judge")
        return scannersim::VerdictMode::Judge;
    if (text == "reject")
        return scannersim::VerdictMode::Reject;
    if (text == "silence")
        return scannersim::VerdictMode::Silence;
    if (text == "unknown")
        return scannersim::VerdictMode::Unknown;
    throw Usage{"--verdict: one of judge, reject, silence, unknown"};
}

struct Arguments {
    scannersim::Options options;
    int timeoutSeconds = 0;
    bool help = false;
};

Arguments Parse(int argc, char** argv) {
    Arguments args;
    auto& o = args.options;
    o.comNumber = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) {
                throw Usage{std::string(option) + " needs a value"};
            }
            return argv[++i];
        };
        auto ms = [&] { return scannersim::Ms(ParseNumber<int>(option, value())); };
        auto byte = [&] {
            const int b = ParseNumber<int>(option, value(), 16);
            if (b > 0xFF)
                throw Usage{std::string(option) + ": more than one byte"};
            return static_cast<std::uint8_t>(b);
        };
        if (option == "--help" || option == "-h")
            args.help = true;
        else if (option == "--com")
            o.comNumber = ParseNumber<int>(option, value());
        else if (option == "--link-dir")
            o.linkDirectory = std::string(value());
        else if (option == "--replace")
            o.replaceLink = true;
        else if (option == "--line-speed")
            o.lineSpeed = true;
        else if (option == "--baud")
            o.baudRate = ParseNumber<int>(option, value());
        else if (option == "--no-ready")
            o.sendReady = false;
        else if (option == "--ready-interval")
            o.readyInterval = ms();
        else if (option == "--version")
            o.versionDigits = std::string(value());
        else if (option == "--reply-x")
            o.replyX = byte();
        else if (option == "--reply-y")
            o.replyY = byte();
        else if (option == "--reply-delay")
            o.replyDelay = ms();
        else if (option == "--broken-reply")
            o.brokenReplyFirst = true;
        else if (option == "--no-reply")
            o.answerQuery = false;
        else if (option == "--start-busy")
            o.startBusy = ms();
        else if (option == "--no-go-ahead")
            o.sendGoAhead = false;
        else if (option == "--busy-interval")
            o.busyInterval = ms();
        else if (option == "--nak-every")
            o.nak.every = ParseNumber<int>(option, value());
        else if (option == "--nak-packet")
            o.nak.packet = ParseNumber<int>(option, value());
        else if (option == "--nak-times")
            o.nak.times = ParseNumber<int>(option, value());
        else if (option == "--verdict-busy")
            o.verdictBusy = ms();
        else if (option == "--verdict")
            o.verdict = ParseVerdict(value());
        else if (option == "--unknown-byte")
            o.unknownVerdictByte = byte();
        else if (option == "--hang-up-after-packets")
            o.hangUpAfterPackets = ParseNumber<int>(option, value());
        else if (option == "--hang-up-after-bytes")
            o.hangUpAfterBytes = ParseNumber<long>(option, value());
        else if (option == "--expect")
            o.expectedImage = ReadFile(std::string(value()));
        else if (option == "--keep-running")
            o.keepRunning = true;
        else if (option == "--timeout")
            args.timeoutSeconds = ParseNumber<int>(option, value());
        else if (option == "--verbose")
            o.trace = [](const std::string& line) { std::cerr << "sim: " << line << "\n"; };
        else
            throw Usage{"unknown option " + std::string(option)};
    }
    if (o.comNumber < 1 || o.comNumber > 256)
        throw Usage{"--com: a number from 1 to 256"};
    if (o.versionDigits.size() != 2)
        throw Usage{"--version: exactly two characters"};
    if (o.baudRate < 1)
        throw Usage{"--baud: a positive number"};
    if (o.busyInterval.count() < 1 || o.readyInterval.count() < 1)
        throw Usage{"intervals must be at least 1 ms"};
    if (o.nak.times < 1)
        throw Usage{"--nak-times: at least 1"};
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    try {
        args = Parse(argc, argv);
    } catch (const Usage& usage) {
        std::cerr << "tr520-scanner-sim: " << usage.message << "\n(--help lists the options)\n";
        return kExitUsage;
    }
    if (args.help) {
        std::cout << kUsage;
        return kExitUploadSeen;
    }
    // Ending through Stop removes the COM link. A closed terminal window sends SIGHUP; a link
    // left behind would lead to whichever terminal gets the pseudo-terminal's number next.
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    signal(SIGHUP, OnSignal);

    scannersim::ScannerSim sim(args.options);
    std::string error;
    if (!sim.Start(&error)) {
        std::cerr << "tr520-scanner-sim: " << error << "\n";
        return kExitNoUpload;
    }
    std::cout << "Simulated scanner on " << sim.DevicePath() << ", published as COM"
              << args.options.comNumber << " (" << sim.LinkPath().string() << ")" << std::endl;

    const auto start = std::chrono::steady_clock::now();
    while (!g_interrupted && !sim.WaitFinished(scannersim::Ms(100))) {
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
