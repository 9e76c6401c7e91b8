// SPDX-License-Identifier: MIT
// What a library call prints, taken instead of printed: the library writes
// its printouts (the start-up line, the pulse shape dump) with stdio, so
// the program that calls it decides where they go.  Only the calling
// program's own code uses this, around one call, never a command handler.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace liutool {

// Runs call with stream (stdout or stderr) going to a temporary file, and
// returns what call wrote to it in captured; call's result.  When no
// temporary file can be made, call runs with stream as it is.
int captureStream(std::FILE* stream, const std::function<int()>& call, std::string& captured);

// Splits captured stderr text: the trace lines libliuTrace wrote among it
// ("ERROR ...", "CALL ...", "DETAIL ...") go on to stderr, the rest is
// returned.
std::string passTraceLines(const std::string& captured);

} // namespace liutool
