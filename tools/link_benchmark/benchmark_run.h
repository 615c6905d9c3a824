// What both link benchmarks share: one exchange on tr520-cli's console, measured and reported
// from its result in the same lines on every platform. Only the CPU clocks and the simulator's
// place (in-process on POSIX, a native process beside wine) differ.
#pragma once

#include <functional>
#include <string>

namespace benchmark {

inline constexpr int kBaudRate = 115200;  // the link's speed, emulated by the simulator

// The time bytes take on the line at kBaudRate, 10 bits a byte (start, 8 data, stop): the
// floor no exchange can beat.
inline double LineSeconds(long bytes) {
    constexpr double kBitsPerByte = 10.0;
    return static_cast<double>(bytes) * kBitsPerByte / kBaudRate;
}

// The platform's CPU clocks, in seconds.
struct CpuClocks {
    std::function<double()> process;  // every thread of this process
    std::function<double()> thread;   // the calling (utility) thread
    std::string processLabel;         // what the process figure covers, for its line
};

// Prints the carried image's size and packet count, the first line of a run.
void PrintImageLine();

// Runs TEST and then UPDATE of the carried image on COM comNumber; true when the scanner
// accepted the image.
bool RunTestAndUpdate(int comNumber, const CpuClocks& clocks);

}  // namespace benchmark
