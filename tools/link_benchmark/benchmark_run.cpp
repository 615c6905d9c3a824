#include "benchmark_run.h"

#include <chrono>
#include <cstdio>
#include <iostream>

#include "firmware_payload.h"
#include "firmware_upload.h"
#include "port_opener_and_clock.h"
#include "port_session.h"
#include "version_check.h"

namespace benchmark {

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Prints one exchange's traffic, line-time floor, wall time and CPU time.
void Report(const exchange::ExchangeRecord& traffic, double wall, double processCpu,
            double threadCpu, const std::string& processLabel) {
    const double floorSent = LineSeconds(traffic.bytesSent);
    const double floorReceived = LineSeconds(traffic.bytesReceived);
    // Every packet waits for its answer, so the two directions do not overlap.
    const double floor = floorSent + floorReceived;
    std::printf("  bytes utility -> scanner : %ld (%.3f s on the line)\n", traffic.bytesSent,
                floorSent);
    std::printf("  bytes scanner -> utility : %ld (%.3f s on the line)\n", traffic.bytesReceived,
                floorReceived);
    std::printf("  line-time floor          : %.3f s (10 bits a byte at %d baud)\n", floor,
                kBaudRate);
    std::printf("  wall time                : %.3f s\n", wall);
    if (floor > 0) {
        std::printf("  wall / floor             : %.2f\n", wall / floor);
    }
    std::printf("  CPU time, process        : %.3f s (%s)\n", processCpu, processLabel.c_str());
    std::printf("  CPU time, utility thread : %.3f s\n", threadCpu);
    if (wall > 0) {
        std::printf("  CPU / wall, utility      : %.1f %%\n", 100.0 * threadCpu / wall);
        std::printf("  CPU / wall, process      : %.1f %%\n", 100.0 * processCpu / wall);
    }
}

// Runs one exchange and prints what its result counted, its wall time and CPU time.
template <typename Exchange>
auto Measure(const char* name, const CpuClocks& clocks, Exchange run) {
    std::printf("%s\n", name);
    std::fflush(stdout);
    const double cpu0 = clocks.process();
    const double thread0 = clocks.thread();
    const auto start = std::chrono::steady_clock::now();
    const auto result = run();
    const double wall = Seconds(std::chrono::steady_clock::now() - start);
    std::cout << std::flush;  // the console's lines before the figures
    Report(result, wall, clocks.process() - cpu0, clocks.thread() - thread0, clocks.processLabel);
    std::fflush(stdout);
    return result;
}

}  // namespace

void PrintImageLine() {
    std::printf("Carried image: %u bytes, %u data packets\n", g_carriedFirmware.imageLength,
                (g_carriedFirmware.imageLength + 119) / 120);
}

bool RunTestAndUpdate(int comNumber, const CpuClocks& clocks) {
    // tr520-cli's console, quiet and answering Yes: the utility's messages on standard output.
    ConsoleInterrupts interrupts;  // no handlers: Ctrl+C ends the benchmark as any program
    const auto input = CreateStandardInput(interrupts);
    ConsoleModes modes;
    modes.quiet = true;
    modes.assumeYes = true;
    Console console(std::cout, std::cerr, modes, interrupts, *input);
    SerialPortOpener opener;
    SystemClock clock;
    ConsoleFrontEnd front(console, clock, exchange::ComPort(comNumber), /*askQuestions=*/true);
    exchange::ExchangeIo io{front, opener, clock};
    PrintImageLine();
    Measure("TEST", clocks, [&] { return exchange::RunVersionCheck(io, g_carriedFirmware); });
    const auto update = Measure("UPDATE", clocks,
                                [&] { return exchange::RunFirmwareUpload(io, g_carriedFirmware); });
    return update.outcome == exchange::UploadOutcome::kAccepted;
}

}  // namespace benchmark
