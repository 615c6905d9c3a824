// tr520-cli: the TR-520/521 CPU firmware update utility from a terminal.
#include <iostream>

#include "cli_options.h"
#include "cli_run.h"
#include "console_platform.h"

int main(int argc, char* argv[]) {
    PrepareStandardStreams();
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.request) {
        return parsed.exitCode;
    }
    return RunCliRequest(*parsed.request);
}
