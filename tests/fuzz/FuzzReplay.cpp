// SPDX-License-Identifier: MIT
// Replays fuzz inputs through the fuzz target, without libFuzzer: every file
// named on the command line and every file in the directories named (in
// name order, dot files skipped), one after the other in this process, as
// the fuzzer runs them.  A broken promise aborts; the exit status is 0 when
// at least one input ran.
#include "FuzzApi.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputsOf(const fs::path& argument) {
    if (!fs::is_directory(argument)) {
        return {argument};
    }
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(argument)) {
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.') {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s INPUT|DIRECTORY...\n", argv[0]);
        return 2;
    }
    LLVMFuzzerInitialize(&argc, &argv);
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const fs::path& path : inputsOf(argv[i])) {
            std::ifstream file(path, std::ios::binary);
            if (!file) {
                std::fprintf(stderr, "%s: cannot read %s\n", argv[0], path.c_str());
                return 1;
            }
            const std::vector<unsigned char> data{std::istreambuf_iterator<char>(file), {}};
            std::printf("replaying %s (%zu bytes)\n", path.c_str(), data.size());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed, every promise kept\n", replayed);
    return replayed > 0 ? 0 : 1;
}
