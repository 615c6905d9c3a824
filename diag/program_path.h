// Where the running program's file lies; each platform asks its own way.
#pragma once

#include <string>

// The full path of the running program's file, empty when the platform cannot say.
std::string ProgramFilePath();
