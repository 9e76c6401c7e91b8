// SPDX-License-Identifier: MIT
#include "CommandLine.h"

#include <cstdio>
#include <cstdlib>

namespace liutool {

void die(const char* program, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    std::exit(kExitFailure);
}

void usageError(const char* program, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, message.c_str(), program);
    std::exit(kExitUsage);
}

void printVersion(const char* program) {
    std::printf("%s %s\n", program, LIU_VERSION);
}

OptionReader::OptionReader(int argc, char** argv, const char* shortOptions,
                           const option* longOptions, Fail fail, std::string operandHint)
    : argc_(argc), argv_(argv), shortOptions_(std::string(":") + shortOptions),
      longOptions_(longOptions), fail_(std::move(fail)), operandHint_(std::move(operandHint)) {
    opterr = 0; // the errors are ours, in the tools' words
}

int OptionReader::next() {
    const int option = getopt_long(argc_, argv_, shortOptions_.c_str(), longOptions_, nullptr);
    if (option == ':') {
        fail_(std::string("option '") + argv_[optind - 1] + "' needs an argument");
    } else if (option == '?') {
        fail_(std::string("unknown option '") + argv_[optind - 1] + "'");
    } else if (option == -1 && optind < argc_) {
        fail_(std::string("unexpected argument '") + argv_[optind] + "'" + operandHint_);
    } else {
        return option;
    }
    return -1; // fail should not have returned: read no further
}

} // namespace liutool
