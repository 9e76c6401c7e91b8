// SPDX-License-Identifier: MIT
// Running commands from -c strings, script files, piped input and the
// interactive shell.
#pragma once

#include "Runner.h"

#include <string>
#include <vector>

namespace liuctl {

struct RunOptions {
    bool keepGoing = false; // carry on after a failed command
    bool echo = false;      // print each command before running it
};

// Runs the commands of one source; where names it in error messages
// ("FILE:LINE: "), empty for -c.  Returns the exit status so far: 0, or the
// status of the first failure (the highest seen with keepGoing).  Sets quit
// when a command ended the session.
int runCommands(Runner& runner, const Printer& printer,
                const std::vector<liucmd::ScriptCommand>& commands, const std::string& where,
                const RunOptions& options, bool& quit);

// Reads commands from a terminal (line editing, history and completion
// where liuctl was built with libedit) until quit or the end of input.
// Ctrl-C drops the line being typed or ends the command running, and the
// shell goes on.  Errors are reported and the shell goes on; returns 0.
int runInteractive(Runner& runner, const Printer& printer);

} // namespace liuctl
