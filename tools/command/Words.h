// SPDX-License-Identifier: MIT
// The words of the liuctl command language: splitting text into commands,
// the two kinds of command error, and the number and word parsers the
// commands and the configuration files share.
//
// A command never prints its own error text: it throws UsageError for bad
// input (exit status 2) or Failure for a refusal of the library or a failed
// transfer (exit status 1).  Parsing always happens before the first library
// call, so a bad word never reaches the chip.
#pragma once

#include "ExitStatus.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace liucmd {

using liutool::kExitFailure;
using liutool::kExitSuccess;
using liutool::kExitUsage;

// An error of one command; what() is the message, without a program name.
class CommandError : public std::runtime_error {
  public:
    CommandError(int status, const std::string& message)
        : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

  private:
    int status_;
};

// Bad input: unknown command, bad or missing word.  Exit status 2.
struct UsageError : CommandError {
    explicit UsageError(const std::string& message) : CommandError(kExitUsage, message) {}
};

// The library refused, the chip failed, or the command cannot run here.
// Exit status 1.
struct Failure : CommandError {
    explicit Failure(const std::string& message) : CommandError(kExitFailure, message) {}
};

// One command of a script: its words and the line it starts on.
struct ScriptCommand {
    std::vector<std::string> words;
    int line;
};

// Splits text into commands: ';' and newlines end a command, '#' at the
// start of a word comments out the rest of the line, single and double
// quotes keep blanks, ';' and '#' inside a word.  Throws UsageError for an
// unterminated quote (nothing of the text is run then).
std::vector<ScriptCommand> splitCommands(std::string_view text);
// The words again as one command line, quoted where splitCommands needs it.
std::string joinWords(const std::vector<std::string>& words);

// Whole decimal or 0x-hexadecimal number within [min, max], or nothing.
bool parseNumber(const std::string& text, long min, long max, long& value);
// A port list: "3", "0-3", "0,2,5-7" or "all", each port below portCount,
// in ascending order without repeats; false for anything else.
bool parsePortList(const std::string& text, unsigned portCount, std::vector<std::uint16_t>& ports);
// Index of the (case-insensitive) word in choices, or choices.size().
std::size_t findChoice(const std::string& word, const std::vector<std::string_view>& choices);
// "a, b or c"
std::string choiceList(const std::vector<std::string_view>& choices);

// Text helpers.
std::string hexByte(unsigned value); // "0x0c"
std::string lowerCase(std::string_view text);

} // namespace liucmd
