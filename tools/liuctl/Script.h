// SPDX-License-Identifier: MIT
// Turning text into commands and running them: -c strings, script files,
// piped input and the interactive shell.
#pragma once

#include "Session.h"

#include <string>
#include <vector>

namespace liuctl {

// One command of a script: its words and the line it starts on.
struct ScriptCommand {
    std::vector<std::string> words;
    int line;
};

// Splits text into commands: ';' and newlines end a command, '#' at the
// start of a word comments out the rest of the line, single and double
// quotes keep blanks, ';' and '#' inside a word.  Throws UsageError for an
// unterminated quote (nothing of the text is run then).
std::vector<ScriptCommand> splitCommands(const std::string& text);

struct RunOptions {
    bool keepGoing = false; // carry on after a failed command
    bool echo = false;      // print each command before running it
    bool json = false;      // echo to stderr instead of stdout
};

// Runs the commands of one source; where names it in error messages
// ("FILE:LINE: "), empty for -c.  Returns the exit status so far: 0, or the
// status of the first failure (the highest seen with keepGoing).  Sets quit
// when a command ended the session.
int runCommands(Session& session, const std::vector<ScriptCommand>& commands,
                const std::string& where, const RunOptions& options, bool& quit);

// Reads commands from a terminal with line editing and history until quit or
// end of input.  Errors are reported and the shell goes on; returns 0.
int runInteractive(Session& session, const RunOptions& options);

} // namespace liuctl
