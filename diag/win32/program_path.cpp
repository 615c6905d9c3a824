#include "program_path.h"

#include <windows.h>

std::string ProgramFilePath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    // A length of the whole buffer means the path was cut: better no title than a wrong one.
    return length == 0 || length >= sizeof path ? std::string() : std::string(path, length);
}
