// tr520-link-benchmark: runs TEST and UPDATE of the carried image against the simulated
// scanner with line-speed emulation at 115200 baud, and prints what the link carried and how
// long it took against the line's own floor. A measurement for people, not a timed test.
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "firmware_payload.h"
#include "firmware_upload.h"
#include "resource.h"
#include "scanner_sim.h"
#include "serial_link.h"
#include "version_check.h"

namespace {

constexpr int kBaudRate = 115200;
constexpr double kBitsPerByte = 10.0;  // start bit, 8 data bits, stop bit
constexpr int kComNumber = 9;

// Bytes that crossed the link through one exchange's ports.
struct Traffic {
    long sent = 0;      // utility to scanner, as the writes accepted them
    long received = 0;  // scanner to utility, as the reads and the drain took them
};

// Counts the bytes of the port it wraps.
class CountingPort : public exchange::IPort {
public:
    CountingPort(std::unique_ptr<exchange::IPort> port, Traffic& traffic)
        : m_port(std::move(port)), m_traffic(traffic) {}
    int BytesWaiting() override { return m_port->BytesWaiting(); }
    int Read(void* buffer, int count, int limitMs) override {
        const int read = m_port->Read(buffer, count, limitMs);
        m_traffic.received += read;
        return read;
    }
    int Write(const void* buffer, int count, int limitMs) override {
        const int written = m_port->Write(buffer, count, limitMs);
        m_traffic.sent += written;
        return written;
    }
    void DrainInput() override {
        m_traffic.received += m_port->BytesWaiting();  // what is queued now; late bytes uncounted
        m_port->DrainInput();
    }

private:
    std::unique_ptr<exchange::IPort> m_port;
    Traffic& m_traffic;
};

class CountingOpener : public exchange::IPortOpener {
public:
    std::unique_ptr<exchange::IPort> Open(const std::string& name, int baudRate, char parity,
                                          int dataBits, int stopBits, bool dtr, bool rts) override {
        return std::make_unique<CountingPort>(
            m_serial.Open(name, baudRate, parity, dataBits, stopBits, dtr, rts), traffic);
    }

    Traffic traffic;

private:
    SerialPortOpener m_serial;
};

// The dialog for a run without one: prints every message, answers Yes, ignores the rest.
class ConsoleView : public exchange::IUpdaterView {
public:
    int GetPortSelection() override { return kComNumber - 1; }
    int ShowMessageBox(const std::string& text, unsigned style) override {
        std::printf("  message (style %u): %s\n", style, text.c_str());
        ++messages;
        return (style & MB_YESNO) ? IDYES : IDOK;
    }
    void EnableControl(int, bool) override {}
    void SetControlText(int, const std::string&) override {}
    void ShowControl(int id) override { completed = id == IDC_COMPLETE; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    std::unique_ptr<exchange::IProgressWindow> CreateProgressWindow() override { return nullptr; }

    int messages = 0;
    bool completed = false;
};

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

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

// Prints one exchange's traffic, line-time floor, wall time and CPU time.
void Report(const Traffic& traffic, double wall, double processCpu, double threadCpu) {
    const double secondsPerByte = kBitsPerByte / kBaudRate;
    const double floorSent = traffic.sent * secondsPerByte;
    const double floorReceived = traffic.received * secondsPerByte;
    // Every packet waits for its answer, so the two directions do not overlap.
    const double floor = floorSent + floorReceived;
    std::printf("  bytes utility -> scanner : %ld (%.3f s on the line)\n", traffic.sent, floorSent);
    std::printf("  bytes scanner -> utility : %ld (%.3f s on the line)\n", traffic.received,
                floorReceived);
    std::printf("  line-time floor          : %.3f s (10 bits a byte at %d baud)\n", floor,
                kBaudRate);
    std::printf("  wall time                : %.3f s\n", wall);
    if (floor > 0) {
        std::printf("  wall / floor             : %.2f\n", wall / floor);
    }
    std::printf("  CPU time, process        : %.3f s (utility and simulator threads)\n",
                processCpu);
    std::printf("  CPU time, utility thread : %.3f s\n", threadCpu);
    if (wall > 0) {
        std::printf("  CPU / wall, utility      : %.1f %%\n", 100.0 * threadCpu / wall);
    }
}

// Runs one exchange with its own counting opener and reports it.
template <typename Exchange>
void Measure(const char* name, exchange::IUpdaterView& view, Exchange run) {
    CountingOpener opener;
    SystemClock clock;
    exchange::ExchangeIo io{view, opener, clock};
    std::printf("%s\n", name);
    std::fflush(stdout);
    const double cpu0 = ProcessCpuSeconds();
    const double thread0 = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    run(io);
    const double wall = Seconds(std::chrono::steady_clock::now() - start);
    Report(opener.traffic, wall, ProcessCpuSeconds() - cpu0, ThreadCpuSeconds() - thread0);
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

}  // namespace

int main() {
    const Scratch scratch;
    if (!scratch.Ok()) {
        std::fprintf(stderr, "tr520-link-benchmark: cannot make a scratch directory\n");
        return 1;
    }
    scannersim::Options options;
    options.comNumber = kComNumber;
    options.versionDigits = "FF";  // no application code: the upload is offered at once
    options.lineSpeed = true;
    options.baudRate = kBaudRate;
    scannersim::ScannerSim sim(options);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "tr520-link-benchmark: no simulated scanner: %s\n", error.c_str());
        return 1;
    }

    ConsoleView view;
    int portIndex = 0;
    int scannerVersion = 0;
    std::printf("Carried image: %u bytes, %u data packets\n", g_carriedFirmware.imageLength,
                (g_carriedFirmware.imageLength + 119) / 120);
    Measure("TEST", view, [&](exchange::ExchangeIo& io) {
        exchange::RunVersionCheck(io, g_carriedFirmware, portIndex, scannerVersion);
    });
    Measure("UPDATE", view, [&](exchange::ExchangeIo& io) {
        exchange::RunFirmwareUpload(io, g_carriedFirmware, portIndex);
    });

    sim.WaitFinished(scannersim::Ms(3000));
    const scannersim::Summary summary = sim.GetSummary();
    sim.Stop();
    const bool ok = view.completed && summary.completeCorrectUpload;
    std::printf("Simulator: %s", scannersim::FormatSummary(summary).c_str());
    std::printf("Result: %s\n", ok ? "the simulator took the whole image, byte for byte"
                                   : "the upload did not complete");
    return ok ? 0 : 1;
}
