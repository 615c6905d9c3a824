#include "program_path.h"

#include <filesystem>
#include <system_error>

std::string ProgramFilePath() {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.string();
}
