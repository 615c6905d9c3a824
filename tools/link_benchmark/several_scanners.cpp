#include "several_scanners.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "benchmark_run.h"
#include "scanner_sim.h"

extern char** environ;

namespace {

constexpr int kFirstCom = 9;

// What the child printed on standard output, its exit status and its CPU seconds.
struct ChildRun {
    std::string out;
    int status = -1;
    double cpuSeconds = 0;
    double wallSeconds = 0;
};

bool RunChild(const std::vector<std::string>& args, ChildRun& run) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv;
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return false;
    }
    char buffer[4096];
    for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        run.out.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
    rusage usage{};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    run.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 256 + WTERMSIG(status);
    return true;
}

// One line per port: its upload's bytes, floor, wall time and their ratio.
void PrintPort(const nlohmann::json& port) {
    const auto& update = port["update"];
    if (update.is_null()) {
        std::printf("  %-6s no upload (%s)\n", port["port"].get<std::string>().c_str(),
                    port["outcome"].get<std::string>().c_str());
        return;
    }
    const long sent = update["bytes_sent"].get<long>();
    const long received = update["bytes_received"].get<long>();
    const double floor = benchmark::LineSeconds(sent + received);
    const double wall = update["ms"].get<double>() / 1000.0;
    std::printf("  %-6s %-9s %7ld + %4ld bytes  floor %6.3f s  wall %6.3f s  wall/floor %.3f\n",
                port["port"].get<std::string>().c_str(),
                update["outcome"].get<std::string>().c_str(), sent, received, floor, wall,
                floor > 0 ? wall / floor : 0.0);
}

}  // namespace

int RunSeveralScanners(int scanners, const std::string& cliProgram) {
    std::vector<std::unique_ptr<scannersim::ScannerSim>> sims;
    std::vector<std::string> args{cliProgram, "--json", "--quiet", "update", "--yes"};
    for (int i = 0; i < scanners; ++i) {
        scannersim::Options options;
        options.comNumber = kFirstCom + i;
        options.replaceLink = true;
        options.versionDigits = "FF";  // no application code: the upload is offered at once
        options.lineSpeed = true;
        options.baudRate = benchmark::kBaudRate;
        sims.push_back(std::make_unique<scannersim::ScannerSim>(options));
        std::string error;
        if (!sims.back()->Start(&error)) {
            std::fprintf(stderr, "tr520-link-benchmark: no simulated scanner: %s\n", error.c_str());
            return 1;
        }
        args.insert(args.end(), {"--port", "COM" + std::to_string(kFirstCom + i)});
    }
    std::printf("%d scanner%s at line speed (%d baud), one tr520-cli run over all: update\n",
                scanners, scanners == 1 ? "" : "s", benchmark::kBaudRate);
    std::fflush(stdout);
    ChildRun run;
    if (!RunChild(args, run)) {
        std::fprintf(stderr, "tr520-link-benchmark: cannot start %s\n", cliProgram.c_str());
        return 1;
    }
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(run.out);
        for (const auto& port : document.at("ports")) {
            PrintPort(port);
        }
    } catch (const nlohmann::json::exception& error) {
        std::fprintf(stderr, "tr520-link-benchmark: tr520-cli gave no document: %s\n%s\n",
                     error.what(), run.out.c_str());
        return 1;
    }
    std::printf("  tr520-cli: exit %d, wall %.3f s, CPU %.3f s = %.1f %% of one core\n", run.status,
                run.wallSeconds, run.cpuSeconds,
                run.wallSeconds > 0 ? 100.0 * run.cpuSeconds / run.wallSeconds : 0.0);
    bool allCorrect = run.status == 0;
    for (auto& sim : sims) {
        sim->WaitFinished(scannersim::Ms(3000));
        allCorrect = allCorrect && sim->GetSummary().completeCorrectUpload;
        sim->Stop();
    }
    std::printf("Result: %s\n", allCorrect ? "every simulator took the whole image, byte for byte"
                                           : "not every upload completed");
    return allCorrect ? 0 : 1;
}
