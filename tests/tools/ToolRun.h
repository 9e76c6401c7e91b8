// SPDX-License-Identifier: MIT
// Running liuctl (alone or under liusim) as a user would, for the tool's
// tests: the command line, its stdout, stderr, exit status and the chip's
// transfer log.
#pragma once

#include <string>
#include <vector>

namespace tooltest {

struct RunResult {
    int status = -1; // exit status, 128 + N when signal N ended it
    std::string out;
    std::string err;
};

// Runs program with args (stdin from /dev/null), collecting both streams;
// kills it after timeoutSeconds.
RunResult runProgram(const std::vector<std::string>& argv, int timeoutSeconds = 60);

// Lines of text, without their newlines.
std::vector<std::string> lines(const std::string& text);

// A liuctl run under liusim.
struct ChipRun : RunResult {
    // The transfer log, each line without its time column ("W ch3 0x23 <- 0x08").
    std::vector<std::string> transfers;
};

// liusim [--scenario scenario] --log LOG -- liuctl liuctlArgs...
ChipRun runOnChip(const std::vector<std::string>& liuctlArgs, const std::string& scenario = "");

// liuctl liuctlArgs... with no simulated chip behind it.
RunResult runAlone(const std::vector<std::string>& liuctlArgs);

// A file of the test data directory (tests/tools), read whole.
std::string testFile(const std::string& name);
std::string testFilePath(const std::string& name);

} // namespace tooltest
