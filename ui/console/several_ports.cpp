#include "several_ports.h"

#include <algorithm>
#include <memory>
#include <thread>

#include "console_progress.h"
#include "exit_codes.h"

namespace {

// No terminal input for a port's questions: --yes answers them, or (test) none is asked.
class NoInput final : public ITerminalInput {
public:
    LineRead ReadLine(std::string&) override { return LineRead::kEnd; }
};

// The run's hold is taken once around all ports; theirs is this.
class NoKeepAwake final : public IKeepAwake {
public:
    void Begin(IEventPump* /*pump*/) override {}
    void End() override {}
};

// What one port's thread works with, made before the thread starts.
struct PortSurroundings {
    PortSurroundings(ConsoleSurroundings& run, const ResolvedPort& port, int row)
        : output(run.output, port.label, row),
          interrupts(run.interrupts),
          questions(output, interrupts, input, /*inputIsTerminal=*/false,
                    run.questions.AssumesYes()),
          s{output,       questions,          interrupts,        run.opener,
            run.clock,    keepAwake,          run.firmware,      run.firmwareSha256,
            run.describePorts, run.whyNotOpened} {}

    ConsoleOutput output;
    ConsoleInterrupts interrupts;
    NoInput input;
    ConsoleQuestions questions;
    NoKeepAwake keepAwake;
    ConsoleSurroundings s;
};

void SayFailed(ConsoleOutput& output, const std::exception_ptr& failure) {
    try {
        output.Alert("tr520-cli: " + cli::InternalErrorText(failure));
    } catch (...) {
        // Standard error could not take the line either; the exit code still tells.
    }
}

std::string VersionBefore(const PortReport& port) {
    if (!port.test || !port.test->scannerVersion) {
        return "-";
    }
    return ScannerVersionText(*port.test->scannerVersion);
}

std::string Padded(const std::string& text, std::size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

}  // namespace

int RunSeveralPorts(ConsoleSurroundings& s, const std::vector<ResolvedPort>& ports, bool upload,
                    CommandReport& report) {
    if (upload) {
        s.output.OpenBoard(static_cast<int>(ports.size()));
    }
    std::vector<std::unique_ptr<PortSurroundings>> surroundings;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        surroundings.push_back(
            std::make_unique<PortSurroundings>(s, ports[i], static_cast<int>(i)));
    }
    std::vector<PortReport> reports(ports.size());
    {
        std::unique_ptr<KeepAwakeScope> hold;
        InterruptPump pressed(s.interrupts);  // a press while the hold is taken ends the run
        if (upload) {
            hold = std::make_unique<KeepAwakeScope>(s.keepAwake, &pressed);  // one for the run
        }
        // Joined however this ends: a thread that cannot be started leaves those that were to
        // finish their uploads before the failure goes on.
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < ports.size(); ++i) {
            threads.emplace_back([&, i] {
                try {
                    reports[i] = RunExchangesOnPort(surroundings[i]->s, ports[i], upload);
                } catch (...) {
                    // Nothing may leave a thread; the port has been closed on the way out. The
                    // line a run on one port gives, with the port's prefix.
                    SayFailed(surroundings[i]->output, std::current_exception());
                    reports[i].label = ports[i].label;
                    reports[i].device = ports[i].device;
                    reports[i].exitCode = cli::kExitInternal;
                }
            });
        }
        for (std::jthread& thread : threads) {
            thread.join();
        }
    }
    s.output.CloseBoard();
    int code = cli::kExitDone;
    for (PortReport& port : reports) {
        code = cli::MostSevereExitCode(code, port.exitCode);
        report.ports.push_back(std::move(port));
    }
    s.output.Line(FormatPortTable(report.ports));
    return code;
}

std::string FormatPortTable(const std::vector<PortReport>& ports) {
    const std::vector<std::string> heads{"Port", "Device", "Before", "Outcome", "Time"};
    std::vector<std::vector<std::string>> rows;
    for (const PortReport& port : ports) {
        rows.push_back({port.label, port.device.empty() ? "-" : port.device, VersionBefore(port),
                        PortOutcomeName(port), FormatDuration(port.testMs + port.updateMs)});
    }
    std::vector<std::size_t> widths;
    for (std::size_t column = 0; column < heads.size(); ++column) {
        std::size_t width = heads[column].size();
        for (const auto& row : rows) {
            width = std::max(width, row[column].size());
        }
        widths.push_back(width);
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (std::size_t column = 0; column < cells.size(); ++column) {
            const bool last = column + 1 == cells.size();
            text += last ? cells[column] : Padded(cells[column], widths[column] + 2);
        }
        return text;
    };
    std::string table = line(heads);
    for (const auto& row : rows) {
        table += "\n" + line(row);
    }
    return table;
}
