// tr520-link-benchmark --scanners N: N simulated scanners at line speed in this process and
// one run of tr520-cli over all of them in a child process, so that the child's CPU time is
// the utility's alone. Prints each port's wall time against its line-time floor.
#pragma once

#include <string>

// Runs the measurement with tr520-cli at cliProgram; the program's exit code (0: every
// scanner took the whole image).
int RunSeveralScanners(int scanners, const std::string& cliProgram);
