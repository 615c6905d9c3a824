// tr520-cli: the TR-520/521 CPU firmware update utility from a terminal.
#include <iostream>

#include "cli_json.h"
#include "cli_options.h"
#include "cli_run.h"
#include "console_platform.h"

int main(int argc, char* argv[]) {
    PrepareStandardStreams();  // first: no port may take the number of a closed stream
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.request) {
        if (parsed.json && parsed.exitCode != 0) {
            std::cout << UsageErrorJson(parsed.error) << std::flush;
        }
        return parsed.exitCode;
    }
    return RunCliRequest(*parsed.request);
}
