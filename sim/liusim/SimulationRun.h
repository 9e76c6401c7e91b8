// SPDX-License-Identifier: MIT
// One liusim run: serves the simulated chip behind /dev/spidev0.0 to a
// program started under umockdev's preload, drives the chip from a scenario
// and the control channel while the program runs, and ends with it.
#pragma once

#include <string>
#include <vector>

namespace liusim {

struct RunOptions {
    std::string logPath;              // transfer log file; empty for none
    std::string scenarioPath;         // scenario file; empty for none
    std::string controlPath;          // control socket
    std::vector<std::string> program; // program and its arguments
};

// Runs the program to its end.  Returns its exit status (128 + N when signal
// N ended it), 126/127 when it could not be started, 1 when liusim itself
// could not set up; liusim's own errors are printed on stderr.
int runSimulation(const RunOptions& options);

} // namespace liusim
