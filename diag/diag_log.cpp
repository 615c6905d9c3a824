#include "diag_log.h"

#include "program_path.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

namespace {

// One buffer shared by all calls, as the log has always had; 259 characters and the NUL.
char g_messageBuffer[260];
// Several ports' threads may log at once: each call formats into the buffer and appends its
// line whole before the next call starts.
std::mutex g_logMutex;

MainWindowTitleSource& TitleSource() {
    static MainWindowTitleSource source;
    return source;
}

// Characters that no file name may hold on Windows (and '/' anywhere). The first word of
// the title, "TR-520/521", would otherwise name a directory that does not exist.
bool IsForbiddenInFileName(char c) {
    return static_cast<unsigned char>(c) < 0x20 || std::strchr("/\\:*?\"<>|", c) != nullptr;
}

std::string MainWindowTitle() {
    const auto& source = TitleSource();
    return source ? source() : ApplicationTitle();
}

}  // namespace

void SetMainWindowTitleSource(MainWindowTitleSource source) { TitleSource() = std::move(source); }

std::string ApplicationTitle() { return std::filesystem::path(ProgramFilePath()).stem().string(); }

std::string GetLogBaseName() {
    std::string title = MainWindowTitle();
    if (const auto blank = title.find(' '); blank != std::string::npos) {
        title.erase(blank);
    }
    for (char& c : title) {
        if (IsForbiddenInFileName(c)) {
            c = '_';
        }
    }
    return title;
}

void LogMessage(const char* format, ...) {
    const std::lock_guard<std::mutex> lock(g_logMutex);
    va_list arguments;
    va_start(arguments, format);
    // vsnprintf cuts an overlong message at the buffer's end instead of running past it.
    std::vsnprintf(g_messageBuffer, sizeof g_messageBuffer, format, arguments);
    va_end(arguments);

    const std::string fileName = GetLogBaseName() + ".log";
    std::FILE* file = std::fopen(fileName.c_str(), "a+t");
    if (file == nullptr) {
        return;
    }
    std::fprintf(file, "%s\n", g_messageBuffer);
    std::fclose(file);
}
