#include "benchmark_run.h"

#include <chrono>
#include <cstdio>

#include "firmware_payload.h"
#include "firmware_upload.h"
#include "resource.h"
#include "serial_link.h"
#include "version_check.h"

namespace benchmark {

namespace {


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
    bool HasGoneAway() override { return m_port->HasGoneAway(); }

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

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Prints one exchange's traffic, line-time floor, wall time and CPU time.
void Report(const Traffic& traffic, double wall, double processCpu, double threadCpu,
            const std::string& processLabel) {
    const double floorSent = LineSeconds(traffic.sent);
    const double floorReceived = LineSeconds(traffic.received);
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
    std::printf("  CPU time, process        : %.3f s (%s)\n", processCpu, processLabel.c_str());
    std::printf("  CPU time, utility thread : %.3f s\n", threadCpu);
    if (wall > 0) {
        std::printf("  CPU / wall, utility      : %.1f %%\n", 100.0 * threadCpu / wall);
        std::printf("  CPU / wall, process      : %.1f %%\n", 100.0 * processCpu / wall);
    }
}

}  // namespace

int ConsoleView::ShowMessageBox(const std::string& text, unsigned style) {
    std::printf("  message (style %u): %s\n", style, text.c_str());
    ++messages;
    return (style & MB_YESNO) ? IDYES : IDOK;
}

void ConsoleView::ShowControl(int id) {
    completed = id == IDC_COMPLETE;
}

void Measure(const char* name, IDialogControls& view, const CpuClocks& clocks,
             const std::function<void(DialogIo&)>& run) {
    CountingOpener opener;
    SystemClock clock;
    DialogIo io{view, opener, clock};
    std::printf("%s\n", name);
    std::fflush(stdout);
    const double cpu0 = clocks.process();
    const double thread0 = clocks.thread();
    const auto start = std::chrono::steady_clock::now();
    run(io);
    const double wall = Seconds(std::chrono::steady_clock::now() - start);
    Report(opener.traffic, wall, clocks.process() - cpu0, clocks.thread() - thread0,
           clocks.processLabel);
    std::fflush(stdout);
}

void PrintImageLine() {
    std::printf("Carried image: %u bytes, %u data packets\n", g_carriedFirmware.imageLength,
                (g_carriedFirmware.imageLength + 119) / 120);
}

bool RunTestAndUpdate(int comNumber, const CpuClocks& clocks) {
    ConsoleView view(comNumber);
    int portIndex = 0;
    int scannerVersion = 0;
    PrintImageLine();
    Measure("TEST", view, clocks, [&](DialogIo& io) {
        RunDialogTest(io, g_carriedFirmware, portIndex, scannerVersion);
    });
    Measure("UPDATE", view, clocks, [&](DialogIo& io) {
        RunDialogUpdate(io, g_carriedFirmware, portIndex);
    });
    return view.completed;
}

}  // namespace benchmark
