#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& e : extra) {
            replaced = replaced || e.substr(0, e.find('=')) == name;
        }
        if (!replaced) {
            merged.push_back(text);
        }
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

bool ChildProcess::Start(const ChildOptions& options, int terminalMaster) {
    int out[2];
    int err[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0 || (options.terminal < 0 && pipe2(err, O_CLOEXEC) != 0)) {
        return false;
    }
    std::vector<std::string> argv = options.argv;
    std::vector<std::string> env = MergedEnvironment(options.env);
    auto argvPointers = Pointers(argv);
    auto envPointers = Pointers(env);
    m_pid = fork();
    if (m_pid == 0) {
        const int input = options.terminal >= 0 ? options.terminal : open("/dev/null", O_RDONLY);
        dup2(input, STDIN_FILENO);
        const int output = options.outputFile.empty() ? out[1]
                                                      : open(options.outputFile.c_str(),
                                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(output, STDOUT_FILENO);
        dup2(options.terminal >= 0 ? options.terminal : err[1], STDERR_FILENO);
        if (options.closeStandardError) {
            close(STDERR_FILENO);
        }
        // Nothing else of ours may reach the child: a copy of a simulator's line held there
        // would keep that line from hanging up.
        close_range(3, ~0U, 0);
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
            _exit(126);
        }
        signal(SIGINT, options.interruptsIgnored ? SIG_IGN : SIG_DFL);
        signal(SIGHUP, options.interruptsIgnored ? SIG_IGN : SIG_DFL);
        execve(argvPointers[0], argvPointers.data(), envPointers.data());
        _exit(127);
    }
    close(out[1]);
    m_outFd = out[0];
    if (options.terminal >= 0) {
        m_errFd = terminalMaster;
        m_ownsErrFd = false;
    } else {
        close(err[1]);
        m_errFd = err[0];
    }
    return m_pid > 0;
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0 && !m_ended) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_outFd >= 0) {
        close(m_outFd);
    }
    if (m_errFd >= 0 && m_ownsErrFd) {
        close(m_errFd);
    }
}

void ChildProcess::Pump(int timeoutMs) {
    pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) {
        return;
    }
    std::string* targets[2] = {&m_out, &m_err};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                targets[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (i == 0 || m_ownsErrFd) {
                close(fds[i].fd);  // the child's end is closed
                (i == 0 ? m_outFd : m_errFd) = -1;
            }
        }
    }
}

bool ChildProcess::Reaped() {
    if (m_ended) {
        return true;
    }
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_ended = true;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 256 + WTERMSIG(status);
    }
    return m_ended;
}

bool ChildProcess::WaitFor(const std::function<bool(const std::string&, const std::string&)>& ready,
                           Ms timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ready(m_out, m_err)) {
        if (Reaped() || std::chrono::steady_clock::now() >= deadline) {
            Pump(0);
            return ready(m_out, m_err);
        }
        Pump(20);
    }
    return true;
}

void ChildProcess::Signal(int signalNumber) const {
    kill(m_pid, signalNumber);
}

int ChildProcess::Wait(Ms timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Reaped()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_ended = true;
            return -1;
        }
        Pump(20);
    }
    // What the child wrote before it ended is still in the pipes.
    for (int i = 0; i < 50 && (m_outFd >= 0 || (m_ownsErrFd && m_errFd >= 0)); ++i) {
        Pump(10);
    }
    if (!m_ownsErrFd) {
        Pump(10);
    }
    return m_status;
}
