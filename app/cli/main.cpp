// tr520-cli: the TR-520/521 CPU firmware update utility from a terminal.
#include <exception>
#include <iostream>

#include "cli_json.h"
#include "cli_options.h"
#include "cli_run.h"
#include "console_platform.h"
#include "exit_codes.h"

int main(int argc, char* argv[]) {
    PrepareStandardStreams();  // first: no port may take the number of a closed stream
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.request) {
        if (parsed.json) {
            std::cout << (parsed.exitCode != 0  ? UsageErrorJson(parsed.error)
                          : parsed.help.empty() ? ShownTextJson("version", parsed.version)
                                                : ShownTextJson("help", parsed.help))
                      << std::flush;
        }
        return parsed.exitCode;
    }
    std::string error;
    try {
        return RunCliRequest(*parsed.request);
    } catch (...) {
        error = cli::InternalErrorText(std::current_exception());
    }
    // The exchanges and the ports have unwound and closed by now; say so instead of aborting
    // without a word, and keep the promise of one document on standard output.
    std::cerr << "tr520-cli: " << error << std::endl;
    if (parsed.request->json) {
        std::cout << InternalErrorJson(error) << std::flush;
    }
    return cli::kExitInternal;
}
