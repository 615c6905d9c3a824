// Replays inputs through a fuzz target without libFuzzer, so that every build runs the seed
// corpus and every input that once broke an invariant. Each argument is a file or a directory
// whose files are replayed in name order. A broken invariant aborts on the input that broke
// it, named just before it runs.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path path = argv[i];
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            inputs.push_back(path);
            continue;
        }
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(path, error)) {
            if (entry.is_regular_file(error)) {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
        inputs.insert(inputs.end(), files.begin(), files.end());
    }
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<fs::path> inputs = Inputs(argc, argv);
    if (inputs.empty()) {
        // A wrong path must not pass as a replay of nothing.
        std::cerr << "no inputs to replay in the paths given\n";
        return 1;
    }
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::cerr << "cannot read " << path.string() << "\n";
            return 1;
        }
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        std::cerr << path.string() << std::endl;
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::cout << inputs.size() << " inputs replayed, none broke an invariant\n";
    return 0;
}
