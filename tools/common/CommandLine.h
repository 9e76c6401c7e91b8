// SPDX-License-Identifier: MIT
// The command line of the tools, one layout for all: help as "Usage: PROG
// [OPTIONS]", errors as "PROG: message" on stderr, exit status 0 on success,
// 1 on failure and 2 on a usage error (with a hint to --help).
#pragma once

#include <getopt.h>

#include <functional>
#include <string>

namespace liutool {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

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
class OptionReader {
  public:
    using Fail = std::function<void(const std::string& message)>;

    // shortOptions as getopt's, without the leading ':'.
    OptionReader(int argc, char** argv, const char* shortOptions, const option* longOptions,
                 Fail fail, std::string operandHint = {});

    int next();

  private:
    int argc_;
    char** argv_;
    std::string shortOptions_;
    const option* longOptions_;
    Fail fail_;
    std::string operandHint_;
};

} // namespace liutool
