// A program run as a child process with its standard output and error read through pipes (or
// standard error through a pseudo-terminal), for the end-to-end tests of tr520-cli.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// How the child is started.
struct ChildOptions {
    std::vector<std::string> argv;    // argv[0] is the program's path
    std::vector<std::string> env;     // NAME=value entries added to (or replacing) ours
    std::string workingDirectory;     // empty: ours
    int terminal = -1;                // a pseudo-terminal slave for standard input and error;
                                      // -1: standard input /dev/null, standard error a pipe
    std::string outputFile;           // standard output into this file instead of the pipe
    bool closeStandardError = false;  // started with descriptor 2 closed, as by `2>&-`
    bool interruptsIgnored = false;   // started with SIGINT and SIGHUP ignored, as by nohup
};

// One running child; the destructor kills it if it still runs.
class ChildProcess {
public:
    using Ms = std::chrono::milliseconds;

    // Starts the child; false with errno set when it cannot be started.
    bool Start(const ChildOptions& options, int terminalMaster = -1);
    ~ChildProcess();

    // Reads output until ready(out, err) holds, the child has ended, or timeout; returns ready.
    bool WaitFor(const std::function<bool(const std::string&, const std::string&)>& ready,
                 Ms timeout);
    // Sends a signal to the child.
    void Signal(int signalNumber) const;
    // Reads output until the child ends (killing it after timeout); its exit status, or
    // 256 + the signal that ended it (never an exit status), or -1 when it had to be killed.
    int Wait(Ms timeout);

    const std::string& Out() const { return m_out; }
    // Standard error, or what came through the terminal.
    const std::string& Err() const { return m_err; }
    pid_t Pid() const { return m_pid; }

private:
    void Pump(int timeoutMs);
    bool Reaped();

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;  // the pipe, or the terminal's master
    bool m_ownsErrFd = true;
    int m_status = -1;
    bool m_ended = false;
    std::string m_out;
    std::string m_err;
};
