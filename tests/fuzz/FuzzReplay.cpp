// SPDX-License-Identifier: MIT
// Replays fuzz inputs through the fuzz target without libFuzzer: the files
// named and the files of the directories named (in name order), one after
// the other in this process, as the fuzzer runs them.  A broken promise
// aborts; the exit status is 0 when at least one input ran.
#include "FuzzApi.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> found{argv[i]};
        if (fs::is_directory(argv[i])) {
            found.assign(fs::directory_iterator(argv[i]), fs::directory_iterator());
            std::erase_if(found, [](const fs::path& p) { return p.filename().string()[0] == '.'; });
            std::sort(found.begin(), found.end());
        }
        inputs.insert(inputs.end(), found.begin(), found.end());
    }
    LLVMFuzzerInitialize(&argc, &argv);
    for (const fs::path& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        const std::vector<unsigned char> data{std::istreambuf_iterator<char>(file), {}};
        std::printf("replaying %s (%zu bytes)\n", path.c_str(), data.size());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("%zu inputs replayed, every promise kept\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
