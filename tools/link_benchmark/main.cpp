// tr520-link-benchmark: runs TEST and UPDATE of the carried image against the simulated
// scanner with line-speed emulation at 115200 baud, and prints what the link carried and how
// long it took against the line's own floor; with --scanners N, one tr520-cli run over N
// simulated scanners. A measurement for people, not a timed test.
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "benchmark_run.h"
#include "scanner_sim.h"
#include "several_scanners.h"

namespace {

constexpr int kComNumber = 9;
constexpr int kMostScanners = 16;  // COM9 to COM24

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// A private port link directory and working directory, removed at the end.
class Scratch {
public:
    Scratch() {
        char pattern[] = "/tmp/tr520-link-benchmark-XXXXXX";
        if (mkdtemp(pattern)) {
            m_dir = pattern;
            setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
            m_previous = std::filesystem::current_path();
            std::filesystem::current_path(m_dir);  // a failing port's log lines go here
        }
    }
    ~Scratch() {
        if (!m_dir.empty()) {
            std::filesystem::current_path(m_previous);
            std::error_code ignored;
            std::filesystem::remove_all(m_dir, ignored);
        }
    }
    bool Ok() const { return !m_dir.empty(); }

private:
    std::filesystem::path m_dir;
    std::filesystem::path m_previous;
};

// The number after --scanners, or 0 for a single TEST and UPDATE in this process; -1 when the
// command line is wrong.
int ScannersWanted(int argc, char** argv) {
    if (argc == 1) {
        return 0;
    }
    if (argc != 3 || std::strcmp(argv[1], "--scanners") != 0) {
        return -1;
    }
    char* end = nullptr;
    const long n = std::strtol(argv[2], &end, 10);
    return *end == '\0' && n >= 1 && n <= kMostScanners ? static_cast<int>(n) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int scanners = ScannersWanted(argc, argv);
    if (scanners < 0) {
        std::fprintf(stderr,
                     "usage: tr520-link-benchmark [--scanners N]\n"
                     "  without it: TEST and UPDATE of the carried image in this process\n"
                     "  --scanners N: N simulated scanners (1 to %d) and one tr520-cli run over\n"
                     "  all of them, each port's wall time against its floor and the CPU time\n",
                     kMostScanners);
        return 2;
    }
    const Scratch scratch;
    if (!scratch.Ok()) {
        std::fprintf(stderr, "tr520-link-benchmark: cannot make a scratch directory\n");
        return 1;
    }
    if (scanners > 0) {
        return RunSeveralScanners(scanners, TR_CLI_PROGRAM);
    }
    scannersim::Options options;
    options.comNumber = kComNumber;
    options.versionDigits = "FF";  // no application code: the upload is offered at once
    options.lineSpeed = true;
    options.baudRate = benchmark::kBaudRate;
    scannersim::ScannerSim sim(options);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "tr520-link-benchmark: no simulated scanner: %s\n", error.c_str());
        return 1;
    }

    const benchmark::CpuClocks clocks{&ProcessCpuSeconds, &ThreadCpuSeconds,
                                      "utility and simulator threads"};
    const bool completed = benchmark::RunTestAndUpdate(kComNumber, clocks);

    sim.WaitFinished(scannersim::Ms(3000));
    const scannersim::Summary summary = sim.GetSummary();
    sim.Stop();
    const bool ok = completed && summary.completeCorrectUpload;
    std::printf("Simulator: %s", scannersim::FormatSummary(summary).c_str());
    std::printf("Result: %s\n", ok ? "the simulator took the whole image, byte for byte"
                                   : "the upload did not complete");
    return ok ? 0 : 1;
}
