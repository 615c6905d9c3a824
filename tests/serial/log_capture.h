// Runs a test in a fresh working directory with a known main window title, so that the
// serial port's log lines land in a file of their own that the test can read back.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "diag_log.h"

class LogCapture {
public:
    LogCapture() {
        m_previous = std::filesystem::current_path();
        m_dir = std::filesystem::temp_directory_path() /
                ("tr_serial_test_" + std::to_string(getpid()) + "_" + std::to_string(s_count++));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        std::filesystem::current_path(m_dir);
        SetMainWindowTitleSource([] { return std::string("TR-520/521 CPU Update Utility 1.10"); });
    }
    ~LogCapture() {
        SetMainWindowTitleSource({});
        std::filesystem::current_path(m_previous);
        std::filesystem::remove_all(m_dir);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The lines logged so far.
    std::vector<std::string> Lines() const {
        std::ifstream in(m_dir / "TR-520_521.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    // The directory the test runs in.
    const std::filesystem::path& Dir() const { return m_dir; }

private:
    static inline int s_count = 0;
    std::filesystem::path m_previous;
    std::filesystem::path m_dir;
};
