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

OptionReader::OptionReader(int argc, char** argv, const char* program, const char* shortOptions,
                           const option* longOptions, Fail fail, std::function<std::string()> usage,
                           std::string operandHint, Answer answer)
    : argc_(argc), argv_(argv), program_(program),
      shortOptions_(std::string(":") + shortOptions + "hV"), fail_(std::move(fail)),
      usage_(std::move(usage)), operandHint_(std::move(operandHint)), answer_(std::move(answer)) {
    for (const option* entry = longOptions; entry->name != nullptr; ++entry) {
        longOptions_.push_back(*entry);
    }
    longOptions_.push_back({"help", no_argument, nullptr, 'h'});
    longOptions_.push_back({"version", no_argument, nullptr, 'V'});
    longOptions_.push_back({nullptr, 0, nullptr, 0});
    opterr = 0; // the errors are ours, in the tools' words
}

int OptionReader::next() {
    const int option =
        getopt_long(argc_, argv_, shortOptions_.c_str(), longOptions_.data(), nullptr);
    if (option == ':') {
        fail_(std::string("option '") + argv_[optind - 1] + "' needs an argument");
    } else if (option == '?') {
        fail_(std::string("unknown option '") + argv_[optind - 1] + "'");
    } else if (option == -1 && optind < argc_) {
        fail_(std::string("unexpected argument '") + argv_[optind] + "'" + operandHint_);
    } else if (option == 'h' || option == 'V') {
        const std::string text = option == 'h' ? usage_() : LIU_VERSION;
        if (answer_) {
            answer_(option == 'h' ? "--help" : "--version", text);
        }
        if (option == 'h') {
            std::fputs(text.c_str(), stdout);
        } else {
            printVersion(program_);
        }
        std::exit(kExitSuccess);
    } else {
        return option;
    }
    return -1; // fail should not have returned: read no further
}

} // namespace liutool
