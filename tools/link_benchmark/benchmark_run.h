// What both link benchmarks share: the counting ports, the console view, and one exchange
// measured and reported in the same lines on every platform. Only the CPU clocks and the
// simulator's place (in-process on POSIX, a native process beside wine) differ.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "dialog_exchanges.h"
#include "exchange_io.h"

namespace benchmark {

inline constexpr int kBaudRate = 115200;  // the link's speed, emulated by the simulator

// The time bytes take on the line at kBaudRate, 10 bits a byte (start, 8 data, stop): the
// floor no exchange can beat.
inline double LineSeconds(long bytes) {
    constexpr double kBitsPerByte = 10.0;
    return static_cast<double>(bytes) * kBitsPerByte / kBaudRate;
}

// Bytes that crossed the link through one exchange's ports.
struct Traffic {
    long sent = 0;      // utility to scanner, as the writes accepted them
    long received = 0;  // scanner to utility, as the reads and the drain took them
};

// The dialog for a run without one: prints every message, answers Yes, ignores the rest.
class ConsoleView : public IDialogControls {
public:
    explicit ConsoleView(int comNumber) : m_comNumber(comNumber) {}
    int GetPortSelection() override { return m_comNumber - 1; }
    int ShowMessageBox(const std::string& text, unsigned style) override;
    void EnableControl(int, bool) override {}
    void SetControlText(int, const std::string&) override {}
    void ShowControl(int id) override;
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    std::unique_ptr<exchange::IProgressWindow> CreateProgressWindow() override { return nullptr; }

    int messages = 0;
    bool completed = false;

private:
    int m_comNumber;
};

// The platform's CPU clocks, in seconds.
struct CpuClocks {
    std::function<double()> process;  // every thread of this process
    std::function<double()> thread;   // the calling (utility) thread
    std::string processLabel;         // what the process figure covers, for its line
};

// Runs one exchange through real CSerial ports that count their bytes, and prints its traffic,
// line-time floor, wall time and CPU time.
void Measure(const char* name, IDialogControls& view, const CpuClocks& clocks,
             const std::function<void(DialogIo&)>& run);

// Prints the carried image's size and packet count, the first line of a run.
void PrintImageLine();

// Runs TEST and then UPDATE of the carried image on COM comNumber; true when the upload
// showed its completion text.
bool RunTestAndUpdate(int comNumber, const CpuClocks& clocks);

}  // namespace benchmark
