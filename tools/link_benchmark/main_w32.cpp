// tr520-link-benchmark.exe: the Windows twin of tr520-link-benchmark. Runs TEST and UPDATE of
// the carried image through the Win32 CSerial on COM N, where the native simulated scanner
// serves the line at line speed (run_windows_benchmark.sh starts both), and prints the same
// lines. A measurement for people, not a timed test.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "benchmark_run.h"

namespace {

double Seconds(const FILETIME& kernel, const FILETIME& user) {
    auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;  // 100 ns units
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return Seconds(kernel, user);
}

double ThreadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return Seconds(kernel, user);
}

}  // namespace

int main(int argc, char** argv) {
    const int com = argc > 1 ? std::atoi(argv[1]) : 0;
    if (com < 1 || com > 256) {
        std::fprintf(stderr, "usage: tr520-link-benchmark.exe COM_NUMBER (1 to 256)\n");
        return 2;
    }
    const benchmark::CpuClocks clocks{&ProcessCpuSeconds, &ThreadCpuSeconds,
                                      "every thread of the utility; the simulator runs natively"};
    const bool completed = benchmark::RunTestAndUpdate(com, clocks);
    std::printf("Result: %s\n", completed ? "the upload showed its completion text"
                                          : "the upload did not complete");
    return completed ? 0 : 1;
}
