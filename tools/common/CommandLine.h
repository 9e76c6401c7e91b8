// SPDX-License-Identifier: MIT
// The command line of the tools, one layout for all: help as "Usage: PROG
// [OPTIONS]", errors as "PROG: message" on stderr, exit status 0 on success,
// 1 on failure and 2 on a usage error (with a hint to --help).
#pragma once

#include "ExitStatus.h"

#include <getopt.h>

#include <functional>
#include <string>
#include <vector>

namespace liutool {

// "PROG: message" on stderr; exit status 1.
[[noreturn]] void die(const char* program, const std::string& message);

// "PROG: message" and "Try 'PROG --help'." on stderr; exit status 2.
[[noreturn]] void usageError(const char* program, const std::string& message);

// "PROG VERSION" on stdout.
void printVersion(const char* program);

// Reads the options with getopt_long, which stays silent: next() gives each
// option the program has (its argument in optarg), and -1 after the last.
// An unknown option, an option without its argument and a word after the
// options (the tools take none; operandHint is added to that message) go to
// fail, which ends the program.
//
// -h/--help and -V/--version are every tool's and answered here: the usage
// text, or "PROG VERSION", on stdout and exit status 0.  A program that may
// print them otherwise (liuctl --json) passes answer, which is given
// "--help" with the usage text or "--version" with the version first: it
// prints them its way and ends the program, or returns for the usual way.
class OptionReader {
  public:
    using Fail = std::function<void(const std::string& message)>;
    using Answer = std::function<void(const std::string& option, const std::string& text)>;

    // shortOptions as getopt's, without the leading ':' and without h and
    // V; longOptions likewise, without help and version, ended by a zero entry.
    OptionReader(int argc, char** argv, const char* program, const char* shortOptions,
                 const option* longOptions, Fail fail, std::function<std::string()> usage,
                 std::string operandHint = {}, Answer answer = {});

    int next();

  private:
    int argc_;
    char** argv_;
    const char* program_;
    std::string shortOptions_;
    std::vector<option> longOptions_;
    Fail fail_;
    std::function<std::string()> usage_;
    std::string operandHint_;
    Answer answer_;
};

} // namespace liutool
